#!/usr/bin/env bash
# Runs a Windows test program under Wine for CTest: wine-run.sh LOADER PROGRAM [ARG...].
# Its output goes through a file: Wine's helper processes (services, explorer) outlive the
# program and would hold a pipe open.
out=$(mktemp)
"$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit $status
