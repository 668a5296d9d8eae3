#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the program icons into hicolor/<size>/apps/ (run by hand after an SVG changes;
# the PNGs are committed so that the build needs no SVG renderer).
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
render() {  # SOURCE NAME SIZE
    mkdir -p "hicolor/$3x$3/apps"
    rsvg-convert -w "$3" -h "$3" "$1" -o "hicolor/$3x$3/apps/$2.png"
}
for size in 16 24 32 48 64 128 256; do
    orb=kelvane-orb.svg
    [ "$size" = 16 ] && orb=kelvane-orb-16.svg
    render "$orb" kelvane-orb "$size"
    render ../convert/orb22to30.svg kelvane-orb22to30 "$size"
done
