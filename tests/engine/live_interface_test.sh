#!/usr/bin/env bash
# quorvel-flows keeps capturing while its interface goes down and comes back,
# is given a new address and is taken away and made again: every ping
# between those counts, in the right direction, and stderr says when the
# interface is down and where capture resumed.
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"

bin="${QUORVEL_BINARY_DIR:?}"
need_tools ping
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
for ns in "$QV_NS_A" "$QV_NS_B"; do ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1; done

start_flows --interface "$QV_IF_A" --seconds 60

# Waits up to $3 s for $2 lines matching $1 in stderr.
wait_for_lines() {
  local deadline=$((SECONDS + $3))
  while [ "$(grep -c "$1" "$work/flows.err" || true)" -lt "$2" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "timed out waiting for $2 × '$1'" >&2; return 1; }
    sleep 0.05
  done
}
pings=0
three_pings() {  # 3 requests in (DL), 3 replies out (UL), 128 bytes each
  in_b ping -q -c 3 -i 0.2 -s 100 "$1" >>"$work/ping.txt"
  pings=$((pings + 3))
}

three_pings "$QV_ADDR_A"
ip -n "$QV_NS_A" link set "$QV_IF_A" down
wait_for_lines "is down" 1 5
sleep 1.5
ip -n "$QV_NS_A" link set "$QV_IF_A" up
start=$(date +%s%N)
wait_for_lines "capturing on $QV_IF_A ($QV_ADDR_A)" 2 2
echo "capture reported again $((($(date +%s%N) - start) / 1000000)) ms after link up"
three_pings "$QV_ADDR_A"

# A new lease.
ip -n "$QV_NS_A" addr del "$QV_ADDR_A/24" dev "$QV_IF_A"
ip -n "$QV_NS_A" addr add 198.18.0.7/24 dev "$QV_IF_A"
wait_for_lines "capturing on $QV_IF_A (198.18.0.7)" 1 3
three_pings 198.18.0.7

# Taken away and made again: a new capture on it. (Packets still in the
# kernel's capture block when the interface goes are lost with it.)
sleep 0.5
ip -n "$QV_NS_A" link del "$QV_IF_A"
wait_for_lines "is down" 2 5
ip -n "$QV_NS_A" link add "$QV_IF_A" type veth peer name "$QV_IF_B" netns "$QV_NS_B"
ip -n "$QV_NS_A" addr add "$QV_ADDR_A/24" dev "$QV_IF_A"
ip -n "$QV_NS_B" addr add "$QV_ADDR_B/24" dev "$QV_IF_B"
ip -n "$QV_NS_B" link set "$QV_IF_B" up
ip -n "$QV_NS_A" link set "$QV_IF_A" up
start=$(date +%s%N)
wait_for_lines "capturing on $QV_IF_A ($QV_ADDR_A)" 3 5
echo "capture reopened $((($(date +%s%N) - start) / 1000000)) ms after the new interface came up"
three_pings "$QV_ADDR_A"

sleep 1  # the last replies reach the table
kill -0 "$flows_pid" && running=yes || running=no
kill -TERM "$flows_pid"
wait "$flows_pid" || true

last_table "$work/flows.txt" >"$work/last.txt"
check "quorvel-flows ran throughout" "$running" "yes"
check "ping bytes in and out" "$(awk -F'\t' '$1 == "ICMP protocol" && $3 == "'"$QV_ADDR_B"'" { print $5 "/" $6 }' \
  "$work/last.txt")" "$((pings * 128))/$((pings * 128))"
check "the capture was lost once, with its interface" \
  "$(grep -c "stopped: The interface disappeared" "$work/flows.err" || true)" "1"
checks_done "$work/last.txt" "$work/flows.err" "$work/ping.txt"
