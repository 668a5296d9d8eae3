#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one end-to-end test file against the real orb: its own X server (Xvfb, which
# picks a free display itself, so parallel runs never meet; -noreset: a server reset
# between two tests refuses the next window) and its own session bus
# with the accessibility bus, so tests never meet another window.
# Usage: run_e2e.sh TEST_FILE.py ORB ORBTOOL SHOT_DIR
set -euo pipefail
test_file=$1
export ORB_BINARY=$2 ORBTOOL_BINARY=$3 ORB_E2E_SHOTS=$4
export PYTHONPATH="$(cd "$(dirname "$0")" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1 PYTHONWARNINGS=ignore::DeprecationWarning

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -f "$fifo"' EXIT
read -r -t 30 display <"$fifo" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"

status=0
dbus-run-session -- /usr/bin/python3 -m unittest -v "$test_file" >"$fifo.log" 2>&1 || status=$?
cat "$fifo.log"
rm -f "$fifo.log"
exit $status
