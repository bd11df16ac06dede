#!/usr/bin/env bash
# Live capture at top speed: tcpreplay sends small frames over a veth pair
# between two namespaces; quorvel-flows --live and tcpdump -w /dev/null
# capture side by side. quorvel-flows captures through quorvel-capture, as
# it always does. Prints packets accounted per packet sent, kernel drops,
# packets the helper could not hand over, and CPU seconds of the helper, of
# quorvel-flows and of tcpdump, with the ratio of the first two together to
# tcpdump. Then an inbound scan of 10,000
# ports, where every packet is a lookup miss for a port without an owner.
# Usage: bench/live_capture_bench.sh BUILD_DIR [PACKETS]
# QV_FLOWS_ARGS adds options to quorvel-flows, e.g. "--ipfix 127.0.0.1:4739"
# to measure it with its exports on.
set -euo pipefail
build="$(cd "${1:?build dir}" && pwd)"
packets="${2:-1000000}"
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tests/support/netns.sh"
for tool in tcpreplay tcpdump python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done
work="$(mktemp -d)"
netns_setup
trap 'netns_cleanup; rm -rf "$work"' EXIT
mac_a="$(ip -n "$QV_NS_A" -o link show "$QV_IF_A" | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p')"

# frames.pcap: UDP from B to A over 1,000 flows; scan.pcap: TCP SYNs to 10,000 ports.
python3 - "$work" "$packets" "$mac_a" <<'PY'
import struct, sys
work, count, mac = sys.argv[1], int(sys.argv[2]), bytes.fromhex(sys.argv[3].replace(':', ''))
src, dst = bytes([198, 18, 0, 2]), bytes([198, 18, 0, 1])
def frame(proto, sport, dport, payload):
    l4 = struct.pack('!HHHH', sport, dport, 8 + len(payload), 0) + payload if proto == 17 else \
         struct.pack('!HHIIBBHHH', sport, dport, 1, 0, 0x50, 0x02, 1024, 0, 0)
    ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(l4), 0, 0, 64, proto, 0, src, dst) + l4
    return mac + b'\x02\x00\x00\x00\x00\x02' + b'\x08\x00' + ip
def write(name, frames):
    with open(f'{work}/{name}', 'wb') as out:
        out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1))
        for i, f in enumerate(frames):
            out.write(struct.pack('<IIII', i // 1000000, i % 1000000, len(f), len(f)) + f)
cache = [frame(17, 10000 + i % 1000, 20000 + i % 1000, b'x' * 18) for i in range(1000)]
write('frames.pcap', (cache[i % 1000] for i in range(count)))
write('scan.pcap', (frame(6, 40000, 1 + i, b'') for i in range(10000)))
PY

cpu() { awk '{ print $2 + $3 }' "$1"; }

run() {  # run NAME PCAP
  local name="$1" pcap="$2"
  ip netns exec "$QV_NS_A" /usr/bin/time -o "$work/$name.qv.time" -f "%e %U %S" \
    "$build/quorvel-flows" --live --address "$QV_ADDR_A" ${QV_FLOWS_ARGS:-} \
    >"$work/$name.qv.out" 2>"$work/$name.qv.err" &
  local qv=$!
  ip netns exec "$QV_NS_A" /usr/bin/time -o "$work/$name.td.time" -f "%e %U %S" \
    tcpdump -i "$QV_IF_A" -B 32768 -n -w /dev/null >/dev/null 2>"$work/$name.td.err" &
  local td=$!
  sleep 2
  ip netns exec "$QV_NS_B" tcpreplay -i "$QV_IF_B" --topspeed "$pcap" >"$work/$name.replay" 2>&1
  sleep 3  # what the kernel still holds is accounted before the stop
  # The helpers' CPU while they still run (their parent's figure includes them).
  # The capture helper is the one that kept no right; the other names owners.
  local flows helpers=0 capture=0 helper ticks
  flows="$(pgrep -P "$qv" -x quorvel-flows || true)"
  for helper in $(pgrep -P "$flows" -x quorvel-capture || true); do
    ticks="$(awk '{ print $14 + $15 }' "/proc/$helper/stat")"
    helpers=$((helpers + ticks))
    grep -q 'CapPrm:.0000000000000000' "/proc/$helper/status" && capture=$((capture + ticks))
  done
  echo "$helpers $capture $(getconf CLK_TCK)" >"$work/$name.helper.ticks"
  ip netns exec "$QV_NS_A" pkill -TERM -x tcpdump || true
  kill -TERM "$flows" || true
  wait "$td" || true
  wait "$qv" || true
  local sent seen qvdrop helperdrop tdseen tddrop
  sent="$(sed -n 's/.*Actual: \([0-9]*\) packets.*/\1/p' "$work/$name.replay")"
  seen="$(sed -n 's/.*: \([0-9]*\) packets seen on .*, \([0-9]*\) dropped.*/\1/p' "$work/$name.qv.err")"
  qvdrop="$(sed -n 's/.*, \([0-9]*\) dropped by the kernel.*/\1/p' "$work/$name.qv.err")"
  helperdrop="$(sed -n 's/.*, \([0-9]*\) by Quorvel/\1/p' "$work/$name.qv.err")"
  tdseen="$(sed -n 's/^\([0-9]*\) packets captured/\1/p' "$work/$name.td.err")"
  tddrop="$(sed -n 's/^\([0-9]*\) packets dropped by kernel/\1/p' "$work/$name.td.err")"
  local rate
  rate="$(sed -n 's/.*Rated: [0-9.]* Bps, [0-9.]* Mbps, \([0-9.]*\) pps.*/\1/p' "$work/$name.replay")"
  echo "$name: sent $sent packets at ${rate} pps"
  local both helpercpu
  both="$(cpu "$work/$name.qv.time")"
  helpercpu="$(awk '{ printf "%.2f", $1 / $3 }' "$work/$name.helper.ticks")"
  echo "  quorvel-flows + quorvel-capture: seen $seen, kernel drops $qvdrop, Quorvel drops $helperdrop"
  echo "    CPU: quorvel-capture $helpercpu s ($(awk '{ printf "capturing %.2f s, naming owners %.2f s", $2 / $3, ($1 - $2) / $3 }' "$work/$name.helper.ticks")), quorvel-flows $(awk -v b="$both" -v h="$helpercpu" 'BEGIN { printf "%.2f", b - h }') s, together $both s"
  echo "  tcpdump:       seen $tdseen, kernel drops $tddrop, CPU $(cpu "$work/$name.td.time") s"
  awk -v s="$sent" -v q="$seen" -v t="$tdseen" -v qc="$both" \
      -v tc="$(cpu "$work/$name.td.time")" 'BEGIN {
    printf "  accounted per sent: quorvel-flows %.4f, tcpdump %.4f\n", q / s, t / s
    if (tc > 0) printf "  CPU ratio (quorvel-capture + quorvel-flows) / tcpdump: %.2f\n", qc / tc
  }'
}

run replay "$work/frames.pcap"
run scan "$work/scan.pcap"
