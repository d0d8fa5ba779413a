#!/usr/bin/env bash
# Runs a Windows test program under Wine, with its output in a file that is passed on at the end.
# Wine starts its desktop and services from whichever program first needs them, and they keep
# that program's output open: a caller that reads the output through a pipe (CTest) would wait for
# them until its time-out.
# Stopped by SIGTERM or SIGINT (`timeout`, Ctrl-C), it still passes on what the program wrote.
out=$(mktemp)
trap 'cat "$out"; rm -f "$out"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
wine "$@" >"$out" 2>&1 </dev/null
