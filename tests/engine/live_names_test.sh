#!/usr/bin/env bash
# Names from live traffic: a DNS server of the test's own (dnsmasq, bound to
# the server namespace's address) answers a name with a CNAME chain; a client
# resolves it and connects, and a TLS client asks for a server name. The
# monitor on the client side must print those names, not reverse names.
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"
bin="${QUORVEL_BINARY_DIR:?}"
peer="$bin/tests/traffic_peer"
need_tools dnsmasq openssl getent
work="$(mktemp -d)"
netns_setup
web=198.18.0.3
# The client namespace resolves through the test's server alone ("ip netns
# exec" puts this file in place of /etc/resolv.conf).
resolv_dir="/etc/netns/$QV_NS_A"
mkdir -p "$resolv_dir"
echo "nameserver $QV_ADDR_B" >"$resolv_dir/resolv.conf"
trap 'netns_cleanup; rm -rf "$work" "$resolv_dir"; rmdir /etc/netns 2>/dev/null || true' EXIT
ip -n "$QV_NS_B" addr add "$web/24" dev "$QV_IF_B"

ip netns exec "$QV_NS_B" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts \
  --bind-interfaces --listen-address="$QV_ADDR_B" --port=53 --user=root --pid-file="$work/dnsmasq.pid" \
  --host-record=web.named.test,"$web" --cname=alias.named.test,web.named.test --log-facility="$work/dnsmasq.log" &
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=tls.named.test -days 1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
ip netns exec "$QV_NS_B" openssl s_server -accept "$web:4433" -cert "$work/cert.pem" -key "$work/key.pem" \
  -naccept 1 -quiet >"$work/s_server.txt" 2>&1 &
ip netns exec "$QV_NS_B" "$peer" tcp-server 5001 >"$work/server.txt" &
server_pid=$!
wait_for_line "$work/server.txt" listening

start_flows --address "$QV_ADDR_A" --names --seconds 5

resolved="$(in_a getent ahostsv4 alias.named.test | awk 'NR == 1 { print $1 }')"
in_a "$peer" tcp-client "$resolved" 5001 1000
in_a openssl s_client -connect "$web:4433" -servername tls.named.test </dev/null >/dev/null 2>&1 || true
wait "$server_pid" || true
wait "$flows_pid"

last_table "$work/flows.txt" >"$work/last.txt"
name_of() { awk -F'\t' -v a="$1" -v p="$2" '$3 == a && $4 == p { print $7; exit }' "$work/last.txt"; }

check "the name resolved to the web address" "$resolved" "$web"
check "connection named by the DNS answer" "$(name_of "$web" 5001)" "alias.named.test"
check "TLS connection named by its server name" "$(name_of "$web" 4433)" "tls.named.test"
checks_done "$work/last.txt" "$work/flows.err" "$work/dnsmasq.log"
