#!/usr/bin/env bash
# Runs a Windows test program under Wine, with its output in a file that is passed on at the end.
# Wine starts its desktop and services from whichever program first needs them, and they keep
# that program's output open: a caller that reads the output through a pipe (CTest) would wait for
# them until its time-out.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
exit $rc
