#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the file-type icons into 16/ and 32/ (run by hand after an SVG changes; the
# PNGs are committed so that the build needs no SVG renderer).
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for svg in *.svg; do
    for size in 16 32; do
        mkdir -p "$size"
        rsvg-convert -w "$size" -h "$size" "$svg" -o "$size/${svg%.svg}.png"
    done
done
