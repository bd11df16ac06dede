#!/usr/bin/env bash
# Attribution: the workload of the live attribution test (curl downloads,
# one-shot UDP programs, one long-lived program, a listener opened just
# before its traffic), watched by quorvel-flows --live with kernel events and
# with the socket tables alone, and by nethogs on the same run. Prints per
# client kind the share of bytes named by the right program: with downloads
# paced to about 200 ms as over the Internet, then at veth speed (about a
# millisecond), where no poll can see a connection's socket.
# Then the cost of the hooks: 100,000 connect/close pairs with quorvel-flows
# (kernel events), with quorvel-flows (tables only) and without Quorvel.
# Usage: bench/attribution_bench.sh BUILD_DIR [CONNECTIONS_PER_KIND]
set -euo pipefail
build="$(cd "${1:?build dir}" && pwd)"
count="${2:-20}"
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tests/support/netns.sh"
for tool in python3 curl; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
source "$root/tests/support/attribution_workload.sh"

# nethogs' share per kind: bytes of the right pid (the largest total it
# showed for that pid) over the workload's bytes from quorvel-flows.
nethogs_shares() {  # nethogs_shares TRACE EXPECTED FLOWS
  python3 - "$@" <<'PY'
import sys
trace, expected, flows = sys.argv[1:]
seen = {}
for line in open(trace):
    parts = line.rstrip("\n").split("\t")
    if len(parts) != 3 or "/" not in parts[0]:
        continue
    fields = parts[0].rsplit("/", 2)
    try:
        pid, total = int(fields[1]), float(parts[1]) + float(parts[2])
    except (ValueError, IndexError):
        continue
    seen[pid] = max(seen.get(pid, 0.0), total)
table = {}
for line in open(flows):
    if line.startswith("#"):
        table = {}
        continue
    source, local, _remote, remote_port, down, up = line.rstrip("\n").split("\t")
    table[(int(local), int(remote_port))] = table.get((int(local), int(remote_port)), 0) + int(down) + int(up)
kinds = {}
for line in open(expected):
    kind, local, remote_port, _name, pid = line.split()
    entry = kinds.setdefault(kind, [set(), 0])
    entry[0].add(int(pid))
    entry[1] += table.get((int(local), int(remote_port)), 0)
for kind, (pids, total) in sorted(kinds.items()):
    named = sum(seen.get(pid, 0.0) for pid in pids)
    print(f"nethogs: {kind}: {min(named / total, 1.0) if total else 0:.4f} of the bytes named by their program")
PY
}

# attribution_run MODE: one run of the workload watched by quorvel-flows in
# MODE ("kernel" or "table") and nethogs.
attribution_run() {
  local mode="$1" option=() flows_pid nethogs_pid=
  [ "$mode" = table ] && option=(--no-kernel-events)
  rm -f "$work/expected.txt"
  ip netns exec "$QV_NS_A" "$build/quorvel-flows" --live --address "$QV_ADDR_A" "${option[@]}" \
    >"$work/flows.txt" 2>"$work/flows.err" &
  flows_pid=$!
  if command -v nethogs >/dev/null; then
    ip netns exec "$QV_NS_A" nethogs -t -v 2 -d 1 "$QV_IF_A" >"$work/nethogs.txt" 2>/dev/null &
    nethogs_pid=$!
  fi
  wait_for_line "$work/flows.txt" "^#"
  sleep 1
  workload_run "$work" "$count"
  sleep 1.5
  kill -TERM "$flows_pid" 2>/dev/null || true
  wait "$flows_pid" || true
  if [ -n "$nethogs_pid" ]; then
    kill -TERM "$nethogs_pid" 2>/dev/null || true
    wait "$nethogs_pid" 2>/dev/null || true
  fi
  head -1 "$work/flows.err"
  python3 "$QV_WORKLOAD_PY" check "$work/flows.txt" "$work/expected.txt" "$mode" | grep -v '^FAIL' || true
  if [ -n "$nethogs_pid" ]; then nethogs_shares "$work/nethogs.txt" "$work/expected.txt" "$work/flows.txt"; fi
}

for pause in 0.02 0; do
  echo "-- downloads in ten parts with $pause s between them"
  workload_start_server "$work" "$pause"
  server_pid=$!
  attribution_run kernel
  attribution_run table
  kill -TERM "$server_pid"
  wait "$server_pid" || true
done

# Hook cost in CPU time per pair: runs alternate so that a busy machine
# weighs on all alike; the median of fifteen runs counts (one run strays by
# a few percent either way).
loop="$build/bench/connect_close_loop"
declare -A runs
for run in $(seq 1 15); do
  for mode in none kernel table; do
    flows_pid=
    if [ "$mode" != none ]; then
      option=()
      [ "$mode" = table ] && option=(--no-kernel-events)
      ip netns exec "$QV_NS_A" "$build/quorvel-flows" --live --address "$QV_ADDR_A" "${option[@]}" \
        >/dev/null 2>&1 &
      flows_pid=$!
      sleep 1
    fi
    runs[$mode]+="$(ip netns exec "$QV_NS_A" "$loop" 100000) "
    if [ -n "$flows_pid" ]; then
      kill -TERM "$flows_pid" 2>/dev/null || true
      wait "$flows_pid" || true
    fi
  done
done
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
none="$(median <<<"${runs[none]}")"
for mode in kernel table; do
  awk -v m="$mode" -v n="$none" -v q="$(median <<<"${runs[$mode]}")" 'BEGIN {
    printf "connect/close pair: %d CPU ns without Quorvel, %d with quorvel-flows (%s): %.3f of the cost without\n",
      n, q, m == "kernel" ? "kernel events" : "connection table", q / n }'
done
