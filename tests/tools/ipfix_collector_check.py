"""quorvel-flows replays a file and exports IPFIX to a real collector
(nfcapd on 127.0.0.1); nfdump must show the flows with the totals of the
tab output, the packets and times of the file and both directions."""
import os
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import flow_pcap  # noqa: E402

# Enough flows for several messages, so sequence numbers are checked too.
replay = flow_pcap.replay(extra_udp_flows=300)
expected = replay.expected


def receive_queue_empty(port):
    # /proc/net/udp: local address:port in hex, then tx_queue:rx_queue.
    with open('/proc/net/udp') as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if int(fields[1].split(':')[1], 16) == port:
                return int(fields[4].split(':')[1], 16) == 0
    return False


port = flow_pcap.free_port(socket.SOCK_DGRAM)
store = os.path.join(replay.work, 'store')
os.mkdir(store)
log_path = os.path.join(replay.work, 'nfcapd.log')
with open(log_path, 'w') as log:
    collector = subprocess.Popen(['nfcapd', '-w', store, '-b', '127.0.0.1', '-p', str(port), '-t', '3600'],
                                 stdout=log, stderr=subprocess.STDOUT)
try:
    flow_pcap.wait_until(lambda: 'Startup' in open(log_path).read(), 'nfcapd to start')
    run = subprocess.run(replay.command('--ipfix', '127.0.0.1:%d' % port), capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    flow_pcap.wait_until(lambda: receive_queue_empty(port), 'nfcapd to read every message')
finally:
    collector.send_signal(signal.SIGTERM)
    collector.wait(timeout=30)

log_text = open(log_path).read()
assert 'Sequence Errors: 0' in log_text, log_text
fmt = 'fmt:%ts|%te|%sa|%da|%sp|%dp|%pr|%ipkt|%ibyt|%opkt|%obyt'
# Every file nfcapd wrote: it starts a new one at each full hour.
# -6: IPv6 addresses whole, not shortened for the column.
dump = subprocess.run(['nfdump', '-q', '-N', '-6', '-R', store, '-o', fmt], capture_output=True, text=True, check=True)


def stamp(seconds):
    return time.strftime('%Y-%m-%d %H:%M:%S', time.localtime(int(seconds))) + '.%03d' % round(seconds % 1 * 1000)


tab = flow_pcap.read_tab_output(run.stdout)
seen = {}
for line in dump.stdout.splitlines():
    start, end, local, remote, local_port, remote_port, protocol, up_packets, up_bytes, down_packets, down_bytes = (
        field.strip() for field in line.split('|'))
    assert local == flow_pcap.local_of(remote), line
    key = (remote, int(protocol), int(float(local_port)), int(float(remote_port)))
    assert key not in seen, 'one record per flow: ' + line
    seen[key] = line
    flow = expected[key]
    got = (int(up_packets), int(up_bytes), int(down_packets), int(down_bytes))
    want = (flow['up_packets'], flow['up_bytes'], flow['down_packets'], flow['down_bytes'])
    assert got == want, '%s: %s, not %s' % (line, got, want)
    assert tab[(remote, key[2], key[3])] == (want[3], want[1]), line
    assert (start, end) == (stamp(flow['first']), stamp(flow['last'])), '%s: times %s - %s' % (
        line, stamp(flow['first']), stamp(flow['last']))

assert set(seen) == set(expected), 'flows missing at the collector: %s' % (set(expected) - set(seen))
print('%d flow records match' % len(seen))
