#!/usr/bin/env bash
# Short-lived clients (curl, one-shot UDP programs), one long-lived program
# opening a connection per download, and a listener opened just before its
# traffic, in two namespaces; quorvel-flows --live watches the clients' side.
# With kernel events every connection is one flow named by its program and
# pid, ports reused by other programs included; with the socket tables
# alone the long-lived program's connections are, and no connection is split.
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"
bin="${QUORVEL_BINARY_DIR:?}"
flows="$bin/quorvel-flows"
need_tools python3 curl
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
source "$(dirname "$0")/../support/attribution_workload.sh"
workload_start_server "$work"

failures=0
for mode in kernel table; do
  option=()
  [ "$mode" = table ] && option=(--no-kernel-events)
  rm -f "$work/expected.txt"
  ip netns exec "$QV_NS_A" "$flows" --live --address "$QV_ADDR_A" "${option[@]}" \
    >"$work/flows.txt" 2>"$work/flows.err" &
  flows_pid=$!
  wait_for_line "$work/flows.txt" "^#"
  if [ "$mode" = kernel ] && ! grep -q "owners from kernel events" "$work/flows.err"; then
    echo "SKIP: no kernel events here: $(cat "$work/flows.err")"
    kill -TERM "$flows_pid"; wait "$flows_pid" || true
    continue
  fi
  workload_run "$work" 10
  if [ "$mode" = kernel ]; then
    # A port one program bound to its address and closed, taken by another
    # bound to any address (UDP), then by a TCP client.
    read -r pid port < <(ip netns exec "$QV_NS_A" "$QV_PYTHON" "$QV_WORKLOAD_PY" udp "$QV_ADDR_B" 9999 "$QV_ADDR_A" 0)
    echo "udp $port 9999 $QV_PYTHON_NAME $pid" >>"$work/expected.txt"
    read -r pid port < <(ip netns exec "$QV_NS_A" "$QV_PYTHON" "$QV_WORKLOAD_PY" udp "$QV_ADDR_B" 9998 0.0.0.0 "$port")
    echo "reused $port 9998 $QV_PYTHON_NAME $pid" >>"$work/expected.txt"
    read -r pid port < <(ip netns exec "$QV_NS_A" sh -c 'echo $$; exec curl -s -o /dev/null --local-port "$1" \
      -w "%{local_port}" "$0"' "http://$QV_ADDR_B:8080/" "$port" | tr '\n' ' '; echo)
    echo "reused $port 8080 curl $pid" >>"$work/expected.txt"
  fi
  sleep 0.3  # the last packets reach the capture
  kill -TERM "$flows_pid"
  wait "$flows_pid"
  if ! "$QV_PYTHON" "$QV_WORKLOAD_PY" check "$work/flows.txt" "$work/expected.txt" "$mode"; then
    failures=$((failures + 1))
    cat "$work/flows.err"
  fi
done
[ "$failures" -eq 0 ]
