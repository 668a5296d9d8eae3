#!/usr/bin/env bash
# Installs what is missing, builds and starts the catalogue program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/app/orb ]; then exec build/app/orb "$@"; fi
exec build/index/orbtool "$@"
