#!/usr/bin/env bash
# IPv6 between real processes in two network namespaces (unique-local
# addresses that exist only there), captured live by quorvel-flows on one
# side: a TCP transfer and a UDP burst to dual-stack sockets, ICMPv6 echo,
# and an IPv4 connection to a dual-stack listener. Totals must equal
# tshark's 40 + payload length per IPv6 packet (IPv4 total length for IPv4),
# and the flows must name their processes.
set -euo pipefail
source "$(dirname "$0")/../support/netns.sh"

bin="${QUORVEL_BINARY_DIR:?}"
flows="$bin/quorvel-flows"
peer="$bin/tests/traffic_peer"
for tool in tshark ping; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -e /proc/net/if_inet6 ] || { echo "SKIP: this kernel has no IPv6"; exit 77; }
work="$(mktemp -d)"
QV_IPV6=1
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
# tshark counts from its start, quorvel-flows once its capture helper has the
# interface open, later on a busy machine: nothing may pass in between. No
# router solicitations then, and the listener reports of the links coming
# up are over first.
ip netns exec "$QV_NS_A" sysctl -qw "net.ipv6.conf.$QV_IF_A.router_solicitations=0"
ip netns exec "$QV_NS_B" sysctl -qw "net.ipv6.conf.$QV_IF_B.router_solicitations=0"
sleep 2

ip netns exec "$QV_NS_A" tshark -i "$QV_IF_A" -f "ip or ip6" -F pcap -w "$work/capture.pcap" -q \
  2>"$work/tshark.err" &
tshark_pid=$!
wait_for_line "$work/tshark.err" "Capturing on"
ip netns exec "$QV_NS_A" "$flows" --live --interface "$QV_IF_A" --seconds 7 >"$work/flows.txt" \
  2>"$work/flows.err" &
flows_pid=$!
wait_for_line "$work/flows.txt" "^#"

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
wait "$server6_pid" "$server4_pid" "$sink_pid"

wait "$flows_pid"
sleep 0.5
kill -TERM "$tshark_pid"
wait "$tshark_pid" || true

awk '/^#/ { n = 0; delete rows } !/^#/ { rows[n++] = $0 } END { for (i = 0; i < n; i++) print rows[i] }' \
  "$work/flows.txt" >"$work/last.txt"
sum_field() {
  tshark -r "$work/capture.pcap" -Y "$1" -T fields -e "$2" 2>/dev/null | awk -v add="$3" '{ s += $1 + add } END { print s + 0 }'
}
ipv6_total() { sum_field "ipv6 && ($1)" ipv6.plen 40; }
all_total() { echo $(($(sum_field ip ip.len 0) + $(ipv6_total ipv6))); }
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
check "all IPv4 and IPv6 bytes" "$(flow_total .)" "$(all_total)"
check "IPv6 TCP flow bytes" "$(flow_total "	5001	")" "$(ipv6_total 'tcp.port == 5001')"
check "IPv6 UDP flow bytes" "$(flow_total "	5002	")" "$(ipv6_total 'udp.port == 5002')"
check "IPv6 UDP burst size" "$(flow_total "	5002	")" "$((50 * (40 + 8 + 512)))"
check "ICMPv6 bytes" "$(flow_total '^ICMPv6 protocol')" "$(ipv6_total icmpv6)"
check "ICMPv6 echo reaches its remote" "$(awk -F'\t' '$1 == "ICMPv6 protocol" && $3 == "fd00:5::2" { print "yes"; exit }' "$work/last.txt")" "yes"
check "IPv4 to the dual-stack listener" "$(flow_total "	5003	")" "$(sum_field 'tcp.port == 5003' ip.len 0)"
check "IPv6 TCP flow names its process" "$(awk -F'\t' '$2 == 5001 { print $1; exit }' "$work/last.txt")" \
  "traffic_peer($server6_pid): 5001"
check "IPv4 flow of the dual-stack listener names its process" \
  "$(awk -F'\t' '$2 == 5003 { print $1; exit }' "$work/last.txt")" "traffic_peer($server4_pid): 5003"
if [ "$failures" -ne 0 ]; then
  echo "--- quorvel-flows output"; cat "$work/last.txt"; cat "$work/flows.err"
  exit 1
fi
