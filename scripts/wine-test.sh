#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest. Its output goes to a file that is shown
# afterwards, so that a process it started and that outlives it (a relaunched installer, a tool
# left running on purpose) can never hold ctest's pipe open and stall the run.
set -uo pipefail
log=$(mktemp)
wine "$@" </dev/null >"$log" 2>&1
status=$?
tr -d '\r' <"$log"
rm -f "$log"
exit "$status"
