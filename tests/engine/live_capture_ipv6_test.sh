#!/usr/bin/env bash
# IPv6 between real processes in two network namespaces (unique-local
# addresses that exist only there), captured live by quorvel-flows on one
# side: a TCP transfer and a UDP burst to dual-stack sockets, ICMPv6 echo,
# and an IPv4 connection to a dual-stack listener. Totals must equal
# tshark's 40 + payload length per IPv6 packet (IPv4 total length for IPv4),
# and the flows must name their processes.
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"
bin="${QUORVEL_BINARY_DIR:?}"
peer="$bin/tests/traffic_peer"
need_tools tshark ping
[ -e /proc/net/if_inet6 ] || { echo "SKIP: this kernel has no IPv6"; exit 77; }
work="$(mktemp -d)"
QV_IPV6=1
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
# tshark counts from its start, quorvel-flows once its capture helper has the
# interface open, later on a busy machine: nothing may pass in between. No
# router solicitations then (netns_setup), and the listener reports of the
# links coming up are over first.
sleep 2

start_tshark "ip or ip6"
start_flows --interface "$QV_IF_A" --seconds 7

ip netns exec "$QV_NS_A" "$peer" tcp-server 5001 >"$work/server6.txt" &
server6_pid=$!
ip netns exec "$QV_NS_A" "$peer" tcp-server 5003 >"$work/server4.txt" &
server4_pid=$!
wait_for_line "$work/server6.txt" listening
wait_for_line "$work/server4.txt" listening
ip netns exec "$QV_NS_A" "$peer" udp-sink 5002 3 &
sink_pid=$!
# Let the connection table see the listeners before their first packets.
sleep 1.5
in_b "$peer" tcp-client "$QV_ADDR6_A" 5001 200000
in_b "$peer" tcp-client "$QV_ADDR_A" 5003 50000
in_b "$peer" udp-send "$QV_ADDR6_A" 5002 50 512
in_b ping -6 -q -c 5 -i 0.2 "$QV_ADDR6_A" >/dev/null
wait "$server6_pid" "$server4_pid" "$sink_pid" "$flows_pid"
sleep 0.5
kill -TERM "$tshark_pid"
wait "$tshark_pid" || true

last_table "$work/flows.txt" >"$work/last.txt"
total() { flow_total "$work/last.txt" "$1"; }
ipv6_total() { sum_field "ipv6 && ($1)" ipv6.plen 40; }
source_of() { awk -F'\t' -v p="$1" '$2 == p { print $1; exit }' "$work/last.txt"; }
check "all IPv4 and IPv6 bytes" "$(total .)" "$(($(sum_field ip ip.len) + $(ipv6_total ipv6)))"
check "IPv6 TCP flow bytes" "$(total "	5001	")" "$(ipv6_total 'tcp.port == 5001')"
check "IPv6 UDP flow bytes" "$(total "	5002	")" "$(ipv6_total 'udp.port == 5002')"
check "IPv6 UDP burst size" "$(total "	5002	")" "$((50 * (40 + 8 + 512)))"
check "ICMPv6 bytes" "$(total '^ICMPv6 protocol')" "$(ipv6_total icmpv6)"
check "ICMPv6 echo reaches its remote" \
  "$(awk -F'\t' '$1 == "ICMPv6 protocol" && $3 == "fd00:5::2" { print "yes"; exit }' "$work/last.txt")" "yes"
check "IPv4 to the dual-stack listener" "$(total "	5003	")" "$(sum_field 'tcp.port == 5003' ip.len)"
check "IPv6 TCP flow names its process" "$(source_of 5001)" "traffic_peer($server6_pid): 5001"
check "IPv4 flow of the dual-stack listener names its process" "$(source_of 5003)" "traffic_peer($server4_pid): 5003"
checks_done "$work/last.txt" "$work/flows.err"
