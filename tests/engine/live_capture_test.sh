#!/usr/bin/env bash
# Real traffic between real processes in two network namespaces, captured
# live by quorvel-flows on one side: its totals must equal the IPv4 lengths
# tshark sees on the same interface, and the TCP flow must name its process.
set -euo pipefail
source "$(dirname "$0")/../support/netns.sh"

bin="${QUORVEL_BINARY_DIR:?}"
flows="$bin/quorvel-flows"
peer="$bin/tests/traffic_peer"
for tool in tshark ping; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT

ip netns exec "$QV_NS_A" tshark -i "$QV_IF_A" -f ip -F pcap -w "$work/capture.pcap" -q 2>"$work/tshark.err" &
tshark_pid=$!
wait_for_line "$work/tshark.err" "Capturing on"
ip netns exec "$QV_NS_A" "$flows" --live --address "$QV_ADDR_A" --seconds 6 >"$work/flows.txt" 2>"$work/flows.err" &
flows_pid=$!
wait_for_line "$work/flows.txt" "^#"

ip netns exec "$QV_NS_A" "$peer" tcp-server 5001 >"$work/server.txt" &
server_pid=$!
wait_for_line "$work/server.txt" listening
ip netns exec "$QV_NS_A" "$peer" udp-sink 5002 3 &
sink_pid=$!
# The connection table is read every 300 ms; a socket opened just before its
# first packet is named only from the next read on (as a second flow). Give
# the reads time to see both listeners, even on a loaded machine.
sleep 1.5
in_b "$peer" tcp-client "$QV_ADDR_A" 5001 200000
in_b "$peer" udp-send "$QV_ADDR_A" 5002 50 512
in_b ping -q -c 5 -i 0.2 "$QV_ADDR_A" >/dev/null
wait "$server_pid" "$sink_pid"

wait "$flows_pid"
sleep 0.5
kill -TERM "$tshark_pid"
wait "$tshark_pid" || true

# The last table quorvel-flows printed.
awk '/^#/ { n = 0; delete rows } !/^#/ { rows[n++] = $0 } END { for (i = 0; i < n; i++) print rows[i] }' \
  "$work/flows.txt" >"$work/last.txt"
ip_total() { tshark -r "$work/capture.pcap" -Y "$1" -T fields -e ip.len 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
flow_total() { awk -F'\t' -v m="$1" '$0 ~ m { s += $5 + $6 } END { print s + 0 }' "$work/last.txt"; }

failures=0
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1 ($2)"
  else
    echo "FAIL: $1: quorvel-flows $2, expected $3"
    failures=$((failures + 1))
  fi
}
check "all IPv4 bytes" "$(flow_total .)" "$(ip_total ip)"
check "TCP flow bytes" "$(flow_total "	5001	")" "$(ip_total 'tcp.port == 5001')"
check "UDP flow bytes" "$(flow_total "	5002	")" "$(ip_total 'udp.port == 5002')"
check "ICMP flow bytes" "$(flow_total '^ICMP protocol')" "$(ip_total icmp)"
check "UDP burst size" "$(flow_total "	5002	")" "27000"
tcp_source="$(awk -F'\t' '$2 == 5001 { print $1; exit }' "$work/last.txt")"
check "TCP flow names its process" "$tcp_source" "traffic_peer($server_pid): 5001"
if [ "$failures" -ne 0 ]; then
  echo "--- quorvel-flows output"; cat "$work/last.txt"; cat "$work/flows.err"
  exit 1
fi
