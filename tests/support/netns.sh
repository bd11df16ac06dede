# Two network namespaces joined by a veth pair, for live tests:
#   $QV_NS_A holds 198.18.0.1/24 on $QV_IF_A, $QV_NS_B holds 198.18.0.2/24.
# Source this file, call netns_setup (exits 77 = skipped when namespaces
# cannot be made here) and the namespaces are removed when the script exits.
# With QV_IPV6=1 set before netns_setup the link also carries IPv6:
# $QV_ADDR6_A and $QV_ADDR6_B in fd00:5::/64 (unique-local, only here).
# shellcheck shell=bash

QV_NS_A="qv-a-$$"
QV_NS_B="qv-b-$$"
QV_IF_A="qva$$"
QV_IF_B="qvb$$"
QV_ADDR_A=198.18.0.1
QV_ADDR_B=198.18.0.2
QV_ADDR6_A=fd00:5::1
QV_ADDR6_B=fd00:5::2

netns_cleanup() {
  local pids
  for ns in "$QV_NS_A" "$QV_NS_B"; do
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    [ -n "$pids" ] && kill $pids 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
}

netns_setup() {
  if ! command -v ip >/dev/null; then
    echo "SKIP: the ip command (iproute2) is missing"
    exit 77
  fi
  if ! ip netns add "$QV_NS_A" 2>/dev/null; then
    echo "SKIP: cannot create network namespaces here (needs root or CAP_SYS_ADMIN)"
    exit 77
  fi
  trap netns_cleanup EXIT
  ip netns add "$QV_NS_B"
  ip link add "$QV_IF_A" type veth peer name "$QV_IF_B"
  ip link set "$QV_IF_A" netns "$QV_NS_A"
  ip link set "$QV_IF_B" netns "$QV_NS_B"
  ip -n "$QV_NS_A" addr add "$QV_ADDR_A/24" dev "$QV_IF_A"
  ip -n "$QV_NS_B" addr add "$QV_ADDR_B/24" dev "$QV_IF_B"
  for ns in "$QV_NS_A" "$QV_NS_B"; do ip -n "$ns" link set lo up; done
  if [ "${QV_IPV6:-0}" = 1 ]; then
    # IPv6 without waiting for duplicate detection and without router chatter.
    for side in "$QV_NS_A:$QV_IF_A:$QV_ADDR6_A" "$QV_NS_B:$QV_IF_B:$QV_ADDR6_B"; do
      IFS=: read -r ns dev _ <<<"$side"
      ip netns exec "$ns" sysctl -qw net.ipv6.conf."$dev".accept_dad=0 net.ipv6.conf."$dev".accept_ra=0 \
        net.ipv6.conf."$dev".router_solicitations=0
      ip -n "$ns" addr add "${side#*:*:}/64" dev "$dev" nodad
    done
  else
    # Quiet links: no IPv6 chatter.
    for ns in "$QV_NS_A" "$QV_NS_B"; do
      ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 || true
    done
  fi
  ip -n "$QV_NS_A" link set "$QV_IF_A" up
  ip -n "$QV_NS_B" link set "$QV_IF_B" up
  if [ "${QV_IPV6:-0}" = 1 ]; then
    # Fixed neighbours: no neighbour solicitations, whose timing no test can
    # foresee (a reachability probe seconds after the last packet).
    local mac_a mac_b
    mac_a=$(ip netns exec "$QV_NS_A" cat "/sys/class/net/$QV_IF_A/address")
    mac_b=$(ip netns exec "$QV_NS_B" cat "/sys/class/net/$QV_IF_B/address")
    ip -n "$QV_NS_A" -6 neigh replace "$QV_ADDR6_B" lladdr "$mac_b" dev "$QV_IF_A" nud permanent
    ip -n "$QV_NS_B" -6 neigh replace "$QV_ADDR6_A" lladdr "$mac_a" dev "$QV_IF_B" nud permanent
  fi
}

# in_a CMD...: run in namespace A (in_b likewise). For a background job use
# "ip netns exec" directly, so that $! is the program itself.
in_a() { ip netns exec "$QV_NS_A" "$@"; }
in_b() { ip netns exec "$QV_NS_B" "$@"; }

# Waits up to 5 s for a line matching $2 in file $1.
wait_for_line() {
  local i
  for i in $(seq 1 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "timed out waiting for '$2' in $1" >&2
  return 1
}
