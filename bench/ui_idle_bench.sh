#!/usr/bin/env bash
# The desktop program idle (monitoring a quiet test namespace, no traffic) for
# 30 seconds: its CPU time as a share of wall time. Target: at most 1%.
# Usage: ui_idle_bench.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: ui_idle_bench.sh BUILD_DIR}" && pwd)"
app="$build/quorvel"
seconds=30
[ -x "$app" ] || { echo "SKIP: $app was not built"; exit 0; }
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is not installed"; exit 0; }
source "$root/tests/support/netns.sh"
( netns_setup ) >/dev/null 2>&1 || { echo "SKIP: cannot create network namespaces here"; exit 0; }
netns_cleanup
netns_setup
work="$(mktemp -d)"
trap 'netns_cleanup; rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"

in_a env XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work" XDG_RUNTIME_DIR="$work/runtime" \
  QUORVEL_TEST_DUMP_ROWS="$work/rows.txt" QUORVEL_TEST_DUMP_AFTER=$((seconds + 10)) \
  QUORVEL_TEST_INTERFACE_ADDRESS="$QV_ADDR_A" \
  xvfb-run -a -s "-screen 0 1400x900x24" "$app" >/dev/null 2>"$work/app.err" &
runner=$!
pid=""
for _ in $(seq 1 100); do
  pid="$(pgrep -n -f "^$app\$" || true)"
  [ -n "$pid" ] && break
  sleep 0.1
done
[ -n "$pid" ] || { echo "FAIL: the program did not start"; cat "$work/app.err"; exit 1; }
sleep 5  # start-up is not idle time
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
hz="$(getconf CLK_TCK)"
before="$(ticks)"
start="$(date +%s.%N)"
sleep "$seconds"
after="$(ticks)"
end="$(date +%s.%N)"
awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" \
  'BEGIN { cpu = t / hz; wall = e - s; printf "idle_cpu_seconds=%.3f wall_seconds=%.1f idle_cpu_percent=%.3f (target <= 1)\n", cpu, wall, 100 * cpu / wall }'
wait "$runner" || true
