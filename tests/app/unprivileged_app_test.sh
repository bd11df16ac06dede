#!/usr/bin/env bash
# The desktop program as an unprivileged member of the group quorvel, with
# quorvel-capture installed beside it as run.sh installs it: rows are named
# by their processes, quorvel holds no capability, a Qt plugin slipped in
# through the environment can do nothing the user cannot, and once the
# capture helper is killed the status bar says so and offers a restart while
# the rows stay.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../support/live_checks.sh"
source "$here/app_session.sh"

bin="${QUORVEL_BINARY_DIR:?}"
plugin="$bin/tests/plugins/generic/libqv_probe_plugin.so"
[ -x "$bin/quorvel" ] && [ -f "$plugin" ] || { echo "SKIP: the desktop program was not built"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to install the helper and switch users"; exit 77; }
need_tools xvfb-run ping setpriv setcap groupadd findmnt
# File capabilities count only where the file system is not mounted nosuid.
base=""
for candidate in /tmp /var/tmp; do
  if ! findmnt -no OPTIONS -T "$candidate" | tr ',' '\n' | grep -qx nosuid; then
    base="$candidate"
    break
  fi
done
[ -n "$base" ] || { echo "SKIP: /tmp and /var/tmp are mounted nosuid"; exit 77; }
work="$(mktemp -d "$base/qv-unprivileged.XXXXXX")"
created_group=""
cleanup() {
  netns_cleanup
  rm -rf "$work"
  [ -z "$created_group" ] || groupdel quorvel 2>/dev/null || true
}
netns_setup
trap cleanup EXIT
if ! getent group quorvel >/dev/null; then
  groupadd --system quorvel
  created_group=yes
fi

# The programs as run.sh installs them, in a folder of their own.
chmod 755 "$work"
mkdir -p "$work/bin" "$work/plugins/generic" "$work/run"
cp "$bin/quorvel" "$bin/quorvel-capture" "$work/bin/"
chown root:quorvel "$work/bin/quorvel-capture"
chmod 0750 "$work/bin/quorvel-capture"
setcap cap_net_raw,cap_net_admin,cap_dac_read_search,cap_sys_ptrace,cap_bpf,cap_perfmon+ep "$work/bin/quorvel-capture"
cp "$plugin" "$work/plugins/generic/"
echo "not for nobody" >"$work/secret"
chmod 600 "$work/secret"
mkdir -p "$work/run/config" "$work/run/data" "$work/run/runtime"
chown -R nobody "$work/run"
[ -d /tmp/.X11-unix ] || { mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix; }

APP_LAUNCH=(setpriv --reuid=nobody --regid=nogroup --groups=quorvel --inh-caps=-all)
APP_ENV=(HOME="$work/run" QT_PLUGIN_PATH="$work/plugins" QT_QPA_GENERIC_PLUGINS=qvprobe
  QV_PROBE_REPORT="$work/run/probe.txt" QV_PROBE_SECRET="$work/secret")

# Once the traffic is over: the rights of the three processes, then the
# capture helper killed. (app_session has a "work" of its own meanwhile.)
program="$work/bin/quorvel"
results="$work"
after_traffic() {
  local app_pid helper capture=""
  app_pid="$(pgrep -f -x "$program" || true)"
  [ -n "$app_pid" ] || return 0
  for helper in "$app_pid" $(pgrep -P "$app_pid" -x quorvel-capture); do
    echo "$(tr '\0' ' ' <"/proc/$helper/cmdline") $(grep -E '^Cap(Eff|Prm)' "/proc/$helper/status" | tr '\n\t' '  ')" |
      tr -s ' '
    grep -q 'CapPrm:.0000000000000000' "/proc/$helper/status" && [ "$helper" != "$app_pid" ] && capture="$helper"
  done >"$results/caps.txt"
  [ -n "$capture" ] && kill -KILL "$capture" && echo "$capture" >"$results/killed"
}
APP_AFTER_TRAFFIC=after_traffic

status=0
app_session "$work/bin/quorvel" "$bin/tests/traffic_peer" "$work/run" 20 || status=$?

check "the program ended by its exit sequence" "$status" "0"
check "quorvel holds no capability" "$(grep -c "^$work/bin/quorvel CapPrm: 0000000000000000 CapEff: 0000000000000000" "$work/caps.txt")" "1"
# Capture and owner tables, and kernel events where this kernel loads them.
helpers="$(grep -c '^quorvel-capture ' "$work/caps.txt" || true)"
check "two or three helpers ran" "$([ "$helpers" -ge 2 ] && [ "$helpers" -le 3 ] && echo yes || echo "$helpers")" "yes"
check "the capture helper dropped every right" \
  "$(grep -c '^quorvel-capture CapPrm: 0000000000000000 CapEff: 0000000000000000' "$work/caps.txt")" "1"
check "the owner helpers kept cap_dac_read_search and cap_sys_ptrace only" \
  "$(grep -c '^quorvel-capture CapPrm: 0000000000080004 CapEff: 0000000000080004' "$work/caps.txt")" "$((helpers - 1))"
while read -r kind port _; do
  check "$kind $port is named by its process" \
    "$(awk -F'\t' -v p="$port" '$6 ~ ("^traffic_peer\\([0-9]+\\): " p "$")' "$work/run/rows.txt" | wc -l | tr -d ' ')" "1"
done <"$work/run/pids"
if [ -f "$work/run/probe.txt" ]; then
  echo "the probe plugin was loaded"
  check "the plugin could not read the secret" "$(grep -c 'secret: denied' "$work/run/probe.txt")" "1"
  check "the plugin could not open a raw socket" "$(grep -c 'raw socket: denied' "$work/run/probe.txt")" "1"
  check "the plugin ran without capabilities" "$(grep -c 'Cap...:.0000000000000000' "$work/run/probe.txt")" "2"
else
  echo "the probe plugin was not loaded"
fi
check "the capture helper was killed" "$([ -s "$work/killed" ] && echo yes || echo no)" "yes"
check "the status bar says the helper ended" \
  "$(grep -c 'Capture stopped on .*quorvel-capture ended unexpectedly (killed by signal 9)' "$work/run/app.err" || true)" "1"
check "a restart was offered" "$(grep -c 'Restart capture offered' "$work/run/app.err" || true)" "1"
checks_done "$work/caps.txt" "$work/run/rows.txt" "$work/run/app.err"
