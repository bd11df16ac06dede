#!/usr/bin/env bash
# The desktop program under a virtual X display, monitoring namespace A while
# namespace B sends it real traffic: after a few seconds the flow list holds
# the expected rows, the exit sequence runs, and a picture is taken.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../support/live_checks.sh"
source "$here/app_session.sh"

bin="${QUORVEL_BINARY_DIR:?}"
app="$bin/quorvel"
peer="$bin/tests/traffic_peer"
[ -x "$app" ] || { echo "SKIP: the desktop program was not built"; exit 77; }
need_tools xvfb-run ping xwininfo
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT

status=0
app_session "$app" "$peer" "$work" 16 || status=$?

# The row of one local port: column 6 is "traffic_peer(PID): PORT".
row_of() { awk -F'\t' -v p="$1" '$6 ~ ("^traffic_peer\\([0-9]+\\): " p "$") { print; exit }' "$work/rows.txt"; }
field() { awk -F'\t' -v n="$2" '{ print $n }' <<<"$1"; }

check "the capture named the window" "$(grep -c "title Quorvel - .*($QV_ADDR_A)" "$work/app.err" || true)" "1"
# Exactly that title on the X server too: nothing appended to it.
check "the window's title is exact" \
  "$(grep -qF "\"Quorvel - $(in_a hostname)($QV_ADDR_A)\": (" "$work/windows.txt" && echo yes || echo no)" "yes"
check "the program ended by its exit sequence" "$status" "0"
check "the feedback prompt was asked" "$(grep -c 'Write us' "$work/app.err" || true)" "1"
check "rows were dumped" "$([ -s "$work/rows.txt" ] && echo yes || echo no)" "yes"
while read -r kind port _; do
  row="$(row_of "$port")"
  check "$kind $port has a row" "$([ -n "$row" ] && echo yes || echo no)" "yes"
  [ -n "$row" ] || continue
  check "$kind $port remote" "$(field "$row" 1 | sed 's/: [0-9]*$//')" "$QV_ADDR_B"
  check "$kind $port full path" "$(field "$row" 9)" "$(readlink -f "$peer")"
  check "$kind $port downloaded bytes shown" "$(field "$row" 3 | grep -cE '^[0-9.]+ (B|KB|MB)$')" "1"
done <"$work/pids"
check "ICMP has a row" "$(awk -F'\t' '$6 == "ICMP protocol"' "$work/rows.txt" | wc -l | tr -d ' ')" "1"
check "the 400000-byte stream shows in KB" \
  "$(awk -F'\t' '$6 ~ /: 5001$/ { print $3 }' "$work/rows.txt" | grep -c ' KB$' || true)" "1"
check "a picture of the window was taken" "$(head -c 4 "$work/window.png" 2>/dev/null | tail -c 3)" "PNG"
checks_done "$work/rows.txt" "$work/app.err"
