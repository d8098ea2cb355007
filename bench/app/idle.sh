#!/usr/bin/env bash
# zarn-app's start-up and idle cost: time from exec to the key being armed ("Zarn ready" in
# the log), CPU time and context switches (wake-ups) of every thread over an idle minute,
# and the resident memory. Runs on a private Xvfb with a tray and private XDG folders.
#   bash bench/app/idle.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
app=$(realpath "$build/src/ui/zarn-app")
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work"/{data,config,runtime}
chmod 700 "$work/runtime"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime HOME=$work
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
while [ ! -s "$work/display" ]; do sleep 0.05; done
export DISPLAY=:$(cat "$work/display")
trayer --edge top --align right --widthtype request >/dev/null 2>&1 &

start=$(date +%s.%N)
ZARN_LOG_STDERR=1 "$app" --background 2>"$work/log" &
pid=$!
until grep -q "Zarn ready" "$work/log"; do sleep 0.01; done
ready=$(date +%s.%N)
echo "start-up to key armed: $(echo "($ready - $start) * 1000" | bc | cut -d. -f1) ms"

sleep 5  # let the engine's model finish loading in the background
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
switches() { cat /proc/$pid/task/*/status | awk '/ctxt_switches/ {n += $2} END {print n}'; }
t0=$(ticks); s0=$(switches)
sleep "$seconds"
t1=$(ticks); s1=$(switches)
hz=$(getconf CLK_TCK)
echo "idle CPU over ${seconds} s: $(echo "scale=3; ($t1 - $t0) * 1000 / $hz" | bc) ms"
echo "idle context switches over ${seconds} s (all threads): $((s1 - s0))"
echo "threads: $(ls /proc/$pid/task | wc -l)"
grep -E 'VmRSS' "/proc/$pid/status"
for task in /proc/$pid/task/*; do
  printf '  %-20s %s\n' "$(cat "$task/comm")" "$(awk '/ctxt_switches/ {n += $2} END {print n}' "$task/status")"
done
