# The attribution workload between the two test namespaces (source netns.sh
# first): quorvel-flows --live watches A, the clients run in A, their server
# in B. Used by the live test and the benchmark.
# shellcheck shell=bash

QV_WORKLOAD_PY="$(dirname "${BASH_SOURCE[0]}")/attribution_workload.py"
# The interpreter itself, not a wrapper: its file name is what names flows.
QV_PYTHON="$(python3 -c 'import os, sys; print(os.path.realpath(sys.executable))')"
QV_PYTHON_NAME="$(basename "$QV_PYTHON")"

# workload_start_server WORK [PAUSE]: the HTTP and UDP server in B; PAUSE
# seconds between the ten parts of a download (default 0.02).
workload_start_server() {
  rm -f "$1/server.txt"
  ip netns exec "$QV_NS_B" "$QV_PYTHON" "$QV_WORKLOAD_PY" server "$QV_ADDR_B" ${2:+"$2"} >"$1/server.txt" 2>&1 &
  wait_for_line "$1/server.txt" listening
}

# workload_run WORK COUNT: COUNT curl downloads, COUNT one-shot UDP
# exchanges, COUNT downloads by one long-lived program, and COUNT downloads
# from B served by a listener opened in A just before. Appends the expected
# owners to WORK/expected.txt.
workload_run() {
  local work="$1" count="$2" i pid port
  for i in $(seq 1 "$count"); do
    read -r pid port < <(ip netns exec "$QV_NS_A" sh -c 'echo $$; exec curl -s -o /dev/null -w "%{local_port}" "$0"' \
      "http://$QV_ADDR_B:8080/" | tr '\n' ' '; echo)
    echo "curl $port 8080 curl $pid" >>"$work/expected.txt"
  done
  for i in $(seq 1 "$count"); do
    read -r pid port < <(ip netns exec "$QV_NS_A" "$QV_PYTHON" "$QV_WORKLOAD_PY" udp "$QV_ADDR_B")
    echo "udp $port 9999 $QV_PYTHON_NAME $pid" >>"$work/expected.txt"
  done
  ip netns exec "$QV_NS_A" "$QV_PYTHON" "$QV_WORKLOAD_PY" long "$QV_ADDR_B" "$count" |
    while read -r pid port; do echo "long $port 8080 $QV_PYTHON_NAME $pid" >>"$work/expected.txt"; done
  rm -f "$work/listen.txt"  # a line left from an earlier run would not wait for this listener
  ip netns exec "$QV_NS_A" "$QV_PYTHON" "$QV_WORKLOAD_PY" listen "$QV_ADDR_A" 8090 "$count" >"$work/listen.txt" &
  local listener=$!
  wait_for_line "$work/listen.txt" 8090
  read -r pid port <"$work/listen.txt"
  for i in $(seq 1 "$count"); do
    port="$(ip netns exec "$QV_NS_B" curl -s -o /dev/null -w "%{local_port}" "http://$QV_ADDR_A:8090/")"
    echo "listener 8090 $port $QV_PYTHON_NAME $pid" >>"$work/expected.txt"
  done
  wait "$listener"
}
