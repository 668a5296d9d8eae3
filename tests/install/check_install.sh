#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks the layout a desktop expects,
# then runs the command-line programs from the installed place.
# Usage: check_install.sh CMAKE BUILD_DIR HAVE_ORB(0|1)
set -uo pipefail
cmake_exe=$1 build=$2 have_orb=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/orb-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! "$cmake_exe" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
    cat "$prefix.log"; rm -f "$prefix.log"
    echo "FAIL: cmake --install"; exit 1
fi
rm -f "$prefix.log"

expect=(
    bin/orb22to30 bin/orbtool
    share/applications/kelvane-orb22to30.desktop
    share/icons/hicolor/scalable/apps/kelvane-orb22to30.svg
    share/doc/kelvane-orb/orbhelp/index.html
    share/doc/kelvane-orb/orbhelp/feedback.html
    share/doc/kelvane-orb/copyright
)
icons=(kelvane-orb22to30)
if [ "$have_orb" = 1 ]; then
    expect+=(
        bin/orb
        share/applications/kelvane-orb.desktop
        share/mime/packages/kelvane-orb.xml
        share/metainfo/org.example.kelvane.orb.metainfo.xml
        share/icons/hicolor/scalable/apps/kelvane-orb.svg
    )
    icons+=(kelvane-orb)
fi
for icon in "${icons[@]}"; do
    for size in 16 32 48 128; do
        expect+=("share/icons/hicolor/${size}x${size}/apps/$icon.png")
    done
done
for f in "${expect[@]}"; do
    [ -f "$prefix/$f" ] || fail "missing $f"
done
for exe in orb orb22to30 orbtool; do
    [ -e "$prefix/bin/$exe" ] && { [ -x "$prefix/bin/$exe" ] || fail "bin/$exe not executable"; }
done

# PNG icons are the size their folder says.
for png in "$prefix"/share/icons/hicolor/*x*/apps/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    w=$(od -An -j16 -N4 -tu1 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    h=$(od -An -j20 -N4 -tu1 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    [ "${w}x${h}" = "$size" ] || fail "$png is ${w}x${h}"
done

# Installed programs must not lean on the build tree.
if command -v readelf >/dev/null; then
    for exe in "$prefix"/bin/*; do
        readelf -d "$exe" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -q "$build" &&
            fail "$(basename "$exe") keeps a run path into the build tree"
    done
fi

# Every local link of the installed manual leads to an installed file.
docdir="$prefix/share/doc/kelvane-orb/orbhelp"
for page in "$docdir"/*.html; do
    for ref in $(grep -oE '(href|src)="[^"]+"' "$page" | sed -E 's/^(href|src)="//; s/"$//'); do
        case "$ref" in *:*) continue ;; esac  # web and mail addresses
        file=${ref%%#*}
        [ -z "$file" ] || [ -f "$docdir/$file" ] || fail "$(basename "$page") links to missing $ref"
    done
done

# The desktop's own validators, where installed.
if command -v desktop-file-validate >/dev/null; then
    for f in "$prefix"/share/applications/*.desktop; do
        desktop-file-validate "$f" || fail "desktop-file-validate $(basename "$f")"
    done
fi
if [ "$have_orb" = 1 ] && command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >/dev/null ||
        fail "appstreamcli validate"
fi
if [ "$have_orb" = 1 ] && command -v update-mime-database >/dev/null; then
    # Compile the package into a scratch database and ask it about a .orb file.
    mime="$prefix/mime-check"
    mkdir -p "$mime/packages" && cp "$prefix/share/mime/packages/kelvane-orb.xml" "$mime/packages/"
    update-mime-database "$mime" >/dev/null 2>&1 || fail "update-mime-database"
    grep -q 'application/x-kelvane-orb:\*\.orb$' "$mime/globs2" || fail "no *.orb glob"
    grep -q 'ORBF' "$mime/magic" || fail "no ORBF magic"
fi

# The command-line programs run from where they were installed.
empty=$(mktemp -d "$prefix/empty-XXXXXX")
out=$("$prefix/bin/orbtool" --help 2>&1) || fail "orbtool --help exited $?"
grep -q "orbtool scan" <<<"$out" || fail "orbtool --help printed: $out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/orb22to30" --convert "$empty" 2>&1) ||
    fail "orb22to30 --convert on an empty directory exited $?: $out"
[ -z "$(ls -A "$empty")" ] || fail "orb22to30 wrote into the empty directory"

if [ "$failures" -ne 0 ]; then
    echo "$failures install check(s) failed"; exit 1
fi
echo "install layout ok: ${#expect[@]} files under $prefix"
