# Runs the built program in network namespace A of tests/support/netns.sh
# under a virtual X display, with real traffic from namespace B, and lets it
# dump its rows and a picture of its window. Source after netns.sh.
# shellcheck shell=bash

# app_session APP PEER WORKDIR SECONDS [BUSY_SECONDS]: leaves WORKDIR/rows.txt,
# WORKDIR/window.png, WORKDIR/app.err, the X server's window tree in
# WORKDIR/windows.txt and the servers' ports in WORKDIR/pids.
# With BUSY_SECONDS, namespace B also answers on four more addresses and the
# traffic goes on in bursts for that long, so the history and pies fill up.
# APP_LAUNCH (an array) runs the program through a command such as setpriv;
# APP_ENV (an array) adds environment assignments; APP_AFTER_TRAFFIC names a
# command run once the traffic is over, while the program still runs.
app_session() {
  local app="$1" peer="$2" work="$3" seconds="$4" busy="${5:-0}"
  mkdir -p "$work/config" "$work/data" "$work/runtime"
  chmod 700 "$work/runtime"
  local extra=()
  if [ "$busy" -gt 0 ]; then
    local n
    for n in 3 4 5 6; do ip -n "$QV_NS_B" addr add "198.18.0.$n/24" dev "$QV_IF_B"; done
    # Columns as a user widens them to read whole addresses and times.
    mkdir -p "$work/config/Dorvane"
    printf '[Settings]\nnHeaderItem0=125\nnHeaderItem1=90\nnHeaderItem4=75\nnHeaderItem5=150\nnHeaderItem6=126\nnHeaderItem7=126\nnHeaderItem8=110\n' \
      >"$work/config/Dorvane/Pelkwind.conf"
  fi
  # On the virtual display even when the tests run on the offscreen platform.
  in_a "${APP_LAUNCH[@]}" env -u QT_QPA_PLATFORM "${APP_ENV[@]}" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
    QUORVEL_TEST_DUMP_ROWS="$work/rows.txt" QUORVEL_TEST_SCREENSHOT="$work/window.png" \
    QUORVEL_TEST_DUMP_AFTER="$seconds" QUORVEL_TEST_INTERFACE_ADDRESS="$QV_ADDR_A" \
    timeout $((seconds + 40)) xvfb-run -a -s "-screen 0 1400x900x24" sh -c '
      "$1" & app=$!
      # The window titles as the X server holds them, once capture named the window.
      for i in $(seq 1 300); do
        xwininfo -root -tree 2>/dev/null | grep -q "\"Quorvel - " && break
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
      done
      xwininfo -root -tree >"$2" 2>&1 || true
      wait "$app"' sh "$app" "$work/windows.txt" >"$work/app.out" 2>"$work/app.err" &
  APP_PID=$!
  # Capture is up once the capture thread has named the window.
  local i
  for i in $(seq 1 300); do
    grep -q "title Quorvel - " "$work/app.err" 2>/dev/null && break
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
  done

  : >"$work/pids"
  local port
  for port in 5001 5002 5003; do
    in_a "$peer" tcp-server "$port" >"$work/server$port.txt" &
    echo "tcp $port" >>"$work/pids"
  done
  in_a "$peer" udp-sink 5010 4 &
  echo "udp 5010" >>"$work/pids"
  for port in 5001 5002 5003; do wait_for_line "$work/server$port.txt" listening; done
  # Let the connection table (read every 300 ms) see the listeners first, so
  # that each stream is named from its first packet even on a loaded machine.
  sleep 1.5
  if [ "$busy" -eq 0 ]; then
    in_b "$peer" tcp-client "$QV_ADDR_A" 5001 400000
    in_b "$peer" tcp-client "$QV_ADDR_A" 5002 120000
    in_b "$peer" tcp-client "$QV_ADDR_A" 5003 30000
    in_b "$peer" udp-send "$QV_ADDR_A" 5010 40 700
    in_b ping -q -c 4 -i 0.2 "$QV_ADDR_A" >/dev/null || true
    in_a ping -q -c 3 -i 0.2 "$QV_ADDR_B" >/dev/null || true
  fi

  # Busy seconds: pings between A and B's five addresses in both directions,
  # with the streams spread over them, so each second looks different.
  local second
  for ((second = 0; second < busy; second++)); do
    case "$second" in
      2) in_b "$peer" tcp-client "$QV_ADDR_A" 5001 90000 ;;
      6) in_b "$peer" udp-send "$QV_ADDR_A" 5010 40 700 ;;
      9) in_b "$peer" tcp-client "$QV_ADDR_A" 5002 50000 ;;
      15) in_b "$peer" tcp-client "$QV_ADDR_A" 5003 25000 ;;
    esac
    in_b ping -q -c $((1 + second % 3)) -i 0.1 -s $((300 + (second * 173) % 1100)) \
      -I "198.18.0.$((2 + second % 5))" "$QV_ADDR_A" >/dev/null 2>&1 || true
    in_a ping -q -c $((1 + (second * 2) % 3)) -i 0.1 -s $((200 + (second * 131) % 1200)) \
      "198.18.0.$((2 + (second * 3) % 5))" >/dev/null 2>&1 || true
    sleep 0.4
  done
  [ -z "${APP_AFTER_TRAFFIC:-}" ] || "$APP_AFTER_TRAFFIC"
  wait "$APP_PID"
}
