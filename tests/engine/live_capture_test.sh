#!/usr/bin/env bash
# Real traffic between real processes in two network namespaces, captured
# live by quorvel-flows on one side: its totals must equal the IPv4 lengths
# tshark sees on the same interface, and the TCP flow must name its process.
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"
bin="${QUORVEL_BINARY_DIR:?}"
peer="$bin/tests/traffic_peer"
need_tools tshark ping
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT

start_tshark ip
start_flows --address "$QV_ADDR_A" --seconds 6

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
wait "$server_pid" "$sink_pid" "$flows_pid"
sleep 0.5
kill -TERM "$tshark_pid"
wait "$tshark_pid" || true

last_table "$work/flows.txt" >"$work/last.txt"
total() { flow_total "$work/last.txt" "$1"; }
check "all IPv4 bytes" "$(total .)" "$(sum_field ip ip.len)"
check "TCP flow bytes" "$(total "	5001	")" "$(sum_field 'tcp.port == 5001' ip.len)"
check "UDP flow bytes" "$(total "	5002	")" "$(sum_field 'udp.port == 5002' ip.len)"
check "ICMP flow bytes" "$(total '^ICMP protocol')" "$(sum_field icmp ip.len)"
check "UDP burst size" "$(total "	5002	")" "27000"
check "TCP flow names its process" "$(awk -F'\t' '$2 == 5001 { print $1; exit }' "$work/last.txt")" \
  "traffic_peer($server_pid): 5001"
checks_done "$work/last.txt" "$work/flows.err"
