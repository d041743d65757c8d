#!/bin/bash
# Starts and closes Tolvane N times, each run on a fresh state folder, offscreen,
# closing itself right after its first paint. Fails at the first run that does
# not exit with status 0 (a crash at exit shows as 134 or 139).
#   scripts/start-stop-loop.sh [N] [program]     default: 200 build/bin/tolvane
set -u
count=${1:-200}
program=${2:-"$(cd "$(dirname "$0")/.." && pwd)/build/bin/tolvane"}
if [ ! -x "$program" ]; then
  echo "no program at $program" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((run = 1; run <= count; run++)); do
  home="$work/run$run"
  mkdir -p "$home"
  TOLVANE_HOME="$home" QT_QPA_PLATFORM=offscreen TOLVANE_QUIT_AFTER_MS=0 \
    timeout 120 "$program" >"$work/out" 2>"$work/err"
  status=$?
  if [ $status -ne 0 ]; then
    echo "run $run of $count: exit status $status" >&2
    tail -n 30 "$work/err" >&2
    exit 1
  fi
  rm -rf "$home"
done
echo "$count runs, all exited 0"
