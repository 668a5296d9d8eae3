#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program with a second start: a failed hand-over leaves the next one
# working, a stuck program makes the second start give up with status 1 instead of
# hanging, and SIGTERM ends the program through its normal close.
set -u
ORB=$1
ORBTOOL=$2
T=$(mktemp -d)
PID=
cleanup() {
  [ -n "$PID" ] && kill -CONT "$PID" 2>/dev/null && kill -KILL "$PID" 2>/dev/null
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$T/first.log" ] && sed 's/^/first: /' "$T/first.log"; exit 1; }
# Polls a condition for up to 30 seconds.
wait_for() {
  for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done
  return 1
}

export HOME=$T/home XDG_RUNTIME_DIR=$T/run TMPDIR=$T/tmp
export XDG_CONFIG_HOME=$T/home/.config XDG_DATA_HOME=$T/home/.local/share XDG_DATA_DIRS=$T/sys
export QT_QPA_PLATFORM=offscreen DISPLAY=:57
unset WAYLAND_DISPLAY
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$TMPDIR" "$T/disc/sub" "$T/sys"
chmod 700 "$XDG_RUNTIME_DIR"
echo text > "$T/disc/sub/a.txt"
"$ORBTOOL" scan "$T/disc" "$T/good.orb" --label GOOD --capacity 1000 >/dev/null 2>&1 ||
  fail "orbtool scan"

"$ORB" >"$T/first.log" 2>&1 &
PID=$!
wait_for '[ -S "$XDG_RUNTIME_DIR/kelvane-orb-$(id -u)-_57" ]' ||
  fail "no socket in the runtime folder: $(ls -A "$XDG_RUNTIME_DIR" "$TMPDIR")"

# The missing file's message stays open in the first program; both starts end.
timeout 20 "$ORB" "$T/nothere.orb" || fail "hand-over of a missing file: status $?"
timeout 20 "$ORB" "$T/good.orb" || fail "hand-over after a failed one: status $?"
kill -0 "$PID" 2>/dev/null || fail "the running program died"

# A program that cannot answer: the second start says so and ends.
kill -STOP "$PID"
timeout 30 "$ORB" "$T/good.orb" 2>"$T/second.err"
status=$?
kill -CONT "$PID"
[ "$status" -eq 1 ] || fail "second start with no answer: status $status"
grep -q "did not answer" "$T/second.err" || fail "no message: $(cat "$T/second.err")"

kill -TERM "$PID"
wait_for '! kill -0 "$PID" 2>/dev/null' || fail "SIGTERM did not end the program"
wait "$PID"
status=$?
PID=
[ "$status" -eq 0 ] || fail "SIGTERM: exit status $status, not a normal close"
echo "ok"
