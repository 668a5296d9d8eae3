#!/usr/bin/env bash
# Installs what is missing, builds and starts the catalogue program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
# The catalogue window comes with the application shell; until then the
# command-line tool over the same engine stands in.
for exe in build/app/orb/orb build/app/orb; do
  if [ -f "$exe" ] && [ -x "$exe" ]; then exec "$exe" "$@"; fi
done
exec build/app/orbtool/orbtool "$@"
