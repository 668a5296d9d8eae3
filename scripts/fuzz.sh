#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) into
# build-fuzz/ and runs each one after the other for SECONDS (default 60), one job
# each at the lowest priority, then prints a table of the runs.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
ALL_TARGETS=(index_reader search favorites old_index picture image)
if [ $# -gt 0 ]; then TARGETS=("$@"); else TARGETS=("${ALL_TARGETS[@]}"); fi

bash scripts/deps.sh
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-14-dev
fi

BUILD=build-fuzz
SAN="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$SAN" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" --target orb_fuzz_seeds $(printf 'fuzz_%s ' "${TARGETS[@]}") -j"$(nproc)"

# Scratch files of the targets go to memory when it can be had.
SCRATCH=$(mktemp -d "${FUZZ_TMPDIR:-$( [ -w /dev/shm ] && echo /dev/shm || echo /tmp )}/orbfuzz.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
# A small quarantine and no fill of new blocks: page faults, not the code under
# test, otherwise take most of the time on a virtual machine.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=16:max_malloc_fill_size=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

ROWS=()
for t in "${TARGETS[@]}"; do
  corpus="$BUILD/fuzz/corpus/$t"
  findings="$BUILD/fuzz/findings/$t"
  log="$BUILD/fuzz/$t.log"
  mkdir -p "$corpus" "$findings"
  echo "== fuzz_$t for ${SECONDS_EACH}s (log: $log)"
  set +e
  TMPDIR="$SCRATCH" nice -n 19 "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" \
    -print_final_stats=1 -timeout=60 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$findings/" "$corpus" "$BUILD/fuzz/seeds/$t" "fuzz/repro/$t" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  found=$(find "$findings" -type f | wc -l)
  [ "$rc" -ne 0 ] && [ "$found" -eq 0 ] && found="exit $rc"
  ROWS+=("$(printf '%-14s %12s %8s %9s %8s %s' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$found")")
done

echo
printf '%-14s %12s %8s %9s %8s %s\n' target executions exec/s coverage features findings
for r in "${ROWS[@]}"; do echo "$r"; done
echo "Findings are kept in $BUILD/fuzz/findings/TARGET/; replay one with $BUILD/fuzz/fuzz_TARGET FILE."
