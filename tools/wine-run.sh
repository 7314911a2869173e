#!/usr/bin/env bash
# Runs a Windows test program under Wine for CTest. Its output goes through a file: Wine's
# helper processes (services, explorer) outlive the program and would hold a pipe open.
out=$(mktemp)
wine "$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit $status
