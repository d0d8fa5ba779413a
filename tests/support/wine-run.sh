#!/usr/bin/env bash
# Runs a Windows test program under Wine, with its output in a file that is passed on at the end.
# Wine starts its desktop and services from whichever program first needs them, and they keep
# that program's output open: a caller that reads the output through a pipe (CTest) would wait for
# them until its time-out.
# Stopped by SIGTERM or SIGINT (`timeout`, Ctrl-C), it still passes on what the program wrote.
# wineserver kills (SIGKILL) a process whose Unix side has not exited a moment after its last
# Windows thread ended, which a heavily loaded machine can miss; such an end is marked in the
# output ("wine-run: killed"), so that the caller can tell it from the test's own result.
out=$(mktemp)
trap 'cat "$out"; rm -f "$out"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
rc=0
wine "$@" >"$out" 2>&1 </dev/null || rc=$?
if [ "$rc" -eq 137 ]; then
  echo "wine-run: killed (SIGKILL) under Wine; its result is unknown" >>"$out"
elif [ "$rc" -ne 0 ] && [ ! -s "$out" ]; then
  # Every test program writes before it can fail (GoogleTest names what it runs): a failure
  # without a word is Wine's, the program never ran.
  echo "wine-run: not started (exit code $rc, no output) under Wine" >>"$out"
fi
exit "$rc"
