#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes disc image seeds into DIR with the mastering tools that are installed:
# xorriso (Rock Ridge + Joliet, plain ISO 9660 with a boot catalogue) and mkudffs.
set -u
dir=$1
mkdir -p "$dir"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/src/sub/深" "$tmp/src/empty"
printf 'readme\n' > "$tmp/src/README.TXT"
printf 'x' > "$tmp/src/sub/深/中文.txt"
head -c 3000 /dev/zero > "$tmp/src/sub/data.bin"
if command -v xorriso >/dev/null 2>&1; then
  xorriso -as mkisofs -quiet -no-pad -R -J -V SEED -o "$dir/rr-joliet.iso" "$tmp/src" >/dev/null 2>&1
  xorriso -outdev "$dir/plain-boot.iso" -rockridge off -joliet off -volid PLAIN \
    -map "$tmp/src" / -boot_image any bin_path=/sub/data.bin \
    -boot_image any cat_path=/BOOT.CAT -boot_image any load_size=2048 >/dev/null 2>&1
fi
if command -v mkudffs >/dev/null 2>&1; then
  mkudffs --label=SEED --media-type=hd --blocksize=2048 "$dir/empty.udf" 300 >/dev/null 2>&1
fi
# Always one input: the volume descriptor alone.
{ head -c 32768 /dev/zero; printf '\001CD001\001'; head -c 2041 /dev/zero; } > "$dir/descriptor-only"
exit 0
