#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd build
# "long": kill -9 during writes with a 17 MB cover, 100 rounds (40 to 100 s on
# its own); run it with `ctest -L long`.
ctest --output-on-failure -j"$(nproc)" -LE 'e2e|long'
# The real window, driven over the accessibility bus, after the unit tests.
ctest --output-on-failure -j"$(nproc)" -L e2e
