#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into a temporary folder and checks its name, its computed
# run-time dependencies and its contents.
# Usage: check_deb.sh CPACK BUILD_DIR HAVE_ORB(0|1)
set -uo pipefail
cpack_exe=$1 build=$2 have_orb=$3
out=$(mktemp -d "${TMPDIR:-/tmp}/orb-deb-XXXXXX")
trap 'rm -rf "$out"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! (cd "$build" && "$cpack_exe" -G DEB -B "$out" --config CPackConfig.cmake) >"$out/log" 2>&1; then
    cat "$out/log"; echo "FAIL: cpack -G DEB"; exit 1
fi
debs=("$out"/kelvane-orb_*.deb)
[ -f "${debs[0]}" ] || { cat "$out/log"; echo "FAIL: no kelvane-orb_*.deb"; exit 1; }
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = kelvane-orb ] || fail "package name $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libarchive13 libudfread0; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
expect=(./usr/bin/orbtool ./usr/bin/orb22to30 ./usr/share/doc/kelvane-orb/orbhelp/index.html
        ./usr/share/doc/kelvane-orb/copyright
        ./usr/share/applications/kelvane-orb22to30.desktop)
[ "$have_orb" = 1 ] && expect+=(./usr/bin/orb ./usr/share/applications/kelvane-orb.desktop
                               ./usr/share/mime/packages/kelvane-orb.xml)
for f in "${expect[@]}"; do
    grep -qxF "$f" <<<"$contents" || fail "package lacks $f"
done
grep -q '^\./usr/local/' <<<"$contents" && fail "package installs under /usr/local"

# The licence statement is in Debian's machine-readable form.
dpkg-deb -x "$deb" "$out/root"
copyright="$out/root/usr/share/doc/kelvane-orb/copyright"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" \
    || fail "copyright is not machine-readable"
grep -q '^License: GPL-3.0-or-later' "$copyright" || fail "copyright names no licence"

# The programs are stripped of debug information.
for exe in "$out"/root/usr/bin/*; do
    readelf -S "$exe" 2>/dev/null | grep -q '\.debug_info' && fail "$(basename "$exe") keeps debug info"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures package check(s) failed"; exit 1
fi
echo "package ok: $(basename "$deb"), Depends: $depends"
