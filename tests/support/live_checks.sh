# What the live test scripts share: the namespaces of netns.sh, skipping
# when a tool is missing, checks that count failures, and byte totals from
# tshark and from quorvel-flows' printed tables. Source it from a script.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"

# need_tools TOOL...: skips the test (exit 77) when one is not installed.
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

# start_tshark FILTER: tshark on $QV_IF_A in namespace A writes the packets
# matching FILTER to $work/capture.pcap; returns once it captures and sets
# tshark_pid.
start_tshark() {
  ip netns exec "$QV_NS_A" tshark -i "$QV_IF_A" -f "$1" -F pcap -w "$work/capture.pcap" -q 2>"$work/tshark.err" &
  tshark_pid=$!
  wait_for_line "$work/tshark.err" "Capturing on"
}

# start_flows ARGS...: $bin/quorvel-flows --live ARGS in namespace A, its
# tables to $work/flows.txt and stderr to $work/flows.err; returns once the
# first table is out and sets flows_pid.
start_flows() {
  ip netns exec "$QV_NS_A" "$bin/quorvel-flows" --live "$@" >"$work/flows.txt" 2>"$work/flows.err" &
  flows_pid=$!
  wait_for_line "$work/flows.txt" "^#"
}

# check WHAT GOT EXPECTED
failures=0
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1 ($2)"
  else
    echo "FAIL: $1: got '$2', expected '$3'"
    failures=$((failures + 1))
  fi
}

# checks_done FILE...: after a failed check, shows the files and fails.
checks_done() {
  [ "$failures" -eq 0 ] && return 0
  local file
  for file in "$@"; do echo "--- $file"; cat "$file" 2>/dev/null || true; done
  exit 1
}

# sum_field FILTER FIELD [ADD]: FIELD (plus ADD per packet) summed over the
# packets of $QV_PCAP (default $work/capture.pcap) that match FILTER.
sum_field() {
  tshark -r "${QV_PCAP:-$work/capture.pcap}" -Y "$1" -T fields -e "$2" 2>/dev/null |
    awk -v add="${3:-0}" '{ s += $1 + add } END { print s + 0 }'
}

# last_table FLOWS: the rows of the last table quorvel-flows printed in FLOWS.
last_table() {
  awk '/^#/ { n = 0; delete rows } !/^#/ { rows[n++] = $0 } END { for (i = 0; i < n; i++) print rows[i] }' "$1"
}

# flow_total TABLE REGEX: downloaded plus uploaded bytes of the matching rows.
flow_total() { awk -F'\t' -v m="$2" '$0 ~ m { s += $5 + $6 } END { print s + 0 }' "$1"; }
