#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the project with clang and one sanitizer into its own folder and runs the
# tests there: "address" (AddressSanitizer with UBSan and LeakSanitizer) into
# build-asan/, "thread" (ThreadSanitizer) into build-tsan/.
# Usage: scripts/sanitize.sh address|thread [CTEST_REGEX]
#   ORB_SAN_TARGETS="t1 t2" limits the build to those targets (with CTEST_REGEX
#   naming their tests), e.g. for a quick run over the threaded parts.
set -euo pipefail
cd "$(dirname "$0")/.."
KIND=${1:-}
REGEX=${2:-}
case "$KIND" in
  address) BUILD=build-asan; SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined" ;;
  thread) BUILD=build-tsan; SAN="-fsanitize=thread" ;;
  *) echo "usage: $0 address|thread [CTEST_REGEX]" >&2; exit 2 ;;
esac

bash scripts/deps.sh
if ! command -v clang++ >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-14-dev
fi

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$SAN -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="$SAN" >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD" ${ORB_SAN_TARGETS:+--target $ORB_SAN_TARGETS} -j"$(nproc)"

# Qt's own libraries are not instrumented: what happens inside them (its event
# loop's locks, fontconfig's caches kept until exit) is not ours to report.
cat >"$BUILD/tsan.supp" <<'SUPP'
called_from_lib:libQt6Core.so.6
called_from_lib:libQt6Gui.so.6
called_from_lib:libQt6Widgets.so.6
called_from_lib:libfontconfig.so.1
called_from_lib:libglib-2.0.so.0
race:libQt6Core.so.6
race:libQt6Gui.so.6
SUPP
cat >"$BUILD/lsan.supp" <<'SUPP'
leak:libfontconfig.so.1
leak:libQt6Core.so.6
leak:libQt6Gui.so.6
leak:libQt6Widgets.so.6
SUPP
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/$BUILD/tsan.supp"
export ASAN_OPTIONS="abort_on_error=1 detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/$BUILD/lsan.supp"
cd "$BUILD"
ctest --output-on-failure ${REGEX:+-R "$REGEX"} -j"$(nproc)"
