"""quorvel-flows replays a file with --csv and --prometheus: Python's csv
module reads the table back to the tab output's values and the file's
times; promtool accepts the scraped text, whose counters add up to the tab
output; hostile clients get errors or time out without stopping the
endpoint."""
import csv
import datetime
import os
import signal
import socket
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
import flow_pcap  # noqa: E402

replay = flow_pcap.replay(extra_udp_flows=150)
csv_path = os.path.join(replay.work, 'flows.csv')
port = flow_pcap.free_port()
# Only a port: the endpoint binds to 127.0.0.1.
program = subprocess.Popen(replay.command('--csv', csv_path, '--prometheus', str(port), '--seconds', '60'),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def get():
    with urllib.request.urlopen('http://127.0.0.1:%d/metrics' % port, timeout=10) as answer:
        return answer.status, answer.headers.get('Content-Type'), answer.read().decode('utf-8')


def scraped():
    try:
        return 'quorvel_program_download_bytes_total' in get()[2]
    except OSError:
        return False


def raw(request):
    with socket.create_connection(('127.0.0.1', port), timeout=10) as client:
        client.sendall(request)
        reply = b''
        try:
            while chunk := client.recv(65536):
                reply += chunk
        except ConnectionResetError:
            pass  # closed with the client's bytes unread
        return reply


try:
    flow_pcap.wait_until(scraped, 'the endpoint to answer', 30)
    status, content_type, text = get()
    assert status == 200 and content_type.startswith('text/plain; version=0.0.4'), content_type
    check = subprocess.run(['promtool', 'check', 'metrics'], input=text, capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr

    # Hostile and wrong requests: each gets its error and the endpoint goes on.
    assert raw(b'POST /metrics HTTP/1.1\r\n\r\n').startswith(b'HTTP/1.1 405'), 'POST'
    assert raw(b'GET /secret HTTP/1.1\r\n\r\n').startswith(b'HTTP/1.1 404'), 'unknown path'
    huge = raw(b'GET /metrics HTTP/1.1\r\nX: ' + b'a' * 20000 + b'\r\n\r\n')
    assert huge == b'' or huge.startswith(b'HTTP/1.1 431'), huge[:40]
    assert raw(b'\x00\xff garbage\r\n\r\n').startswith(b'HTTP/1.1 405'), 'garbage'
    idle = [socket.create_connection(('127.0.0.1', port)) for _ in range(40)]  # hold every place, send nothing
    started = time.monotonic()
    assert get()[0] == 200, 'served once the idle clients timed out'
    assert time.monotonic() - started < 9, 'idle clients are dropped after 5 s'
    for client in idle:
        client.close()
finally:
    program.send_signal(signal.SIGTERM)
    out, err = program.communicate(timeout=30)
assert program.returncode == 0, err

samples = {}
for line in text.splitlines():
    if not line.startswith('#'):
        name, value = line.rsplit(' ', 1)
        samples[name] = int(value)
tab_rows = flow_pcap.read_tab_rows(out)
programs = {}
remotes = {}
for source, _, remote, _, download, upload in tab_rows:
    paren = source.rfind('(')
    for totals, key in ((programs, source[:paren] if paren > 0 else source), (remotes, remote)):
        totals.setdefault(key, [0, 0])
        totals[key][0] += download
        totals[key][1] += upload


def top(totals):
    ranked = sorted(totals.items(), key=lambda item: (-(item[1][0] + item[1][1]), item[0]))  # ties by name
    if len(ranked) <= 100:
        return dict(ranked)
    other = [sum(v[0] for _, v in ranked[100:]), sum(v[1] for _, v in ranked[100:])]
    return dict(ranked[:100] + [('other', other)])


for metric, totals in (('program', top(programs)), ('remote', top(remotes))):
    for direction, index in (('download', 0), ('upload', 1)):
        exposed = {name: value for name, value in samples.items()
                   if name.startswith('quorvel_%s_%s_bytes_total{' % (metric, direction))}
        wanted = {'quorvel_%s_%s_bytes_total{%s="%s"}' % (metric, direction, metric, key): value[index]
                  for key, value in totals.items()}
        assert exposed == wanted, (metric, direction, sorted(set(exposed.items()) ^ set(wanted.items()))[:5])
assert samples['quorvel_capture_packets_total'] == len(replay.packets)
assert samples['quorvel_capture_dropped_packets_total'] == 0

with open(csv_path, newline='', encoding='utf-8') as table:
    rows = list(csv.reader(table, strict=True))
assert open(csv_path, 'rb').read().count(b'\r\n') == len(rows), 'CR LF ends every record'
assert rows[0] == ['local source', 'local port', 'remote address', 'remote port', 'DL bytes', 'UL bytes',
                   'first activity', 'last activity'], rows[0]
tab = flow_pcap.read_tab_output(out)
assert len(rows) - 1 == len(tab) == len(replay.expected)


def iso(seconds):
    moment = datetime.datetime.fromtimestamp(round(seconds * 1000) / 1000, datetime.timezone.utc)
    return moment.strftime('%Y-%m-%dT%H:%M:%S.') + '%03dZ' % (moment.microsecond // 1000)


for source, local_port, remote, remote_port, download, upload, first, last in rows[1:]:
    key = (remote, int(local_port), int(remote_port))
    assert tab[key] == (int(download), int(upload)), key
    flow = next(f for (r, p, lp, rp), f in replay.expected.items() if (r, lp, rp) == key)
    assert (first, last) == (iso(flow['first']), iso(flow['last'])), (key, first, last)
print('CSV and Prometheus exports match the tab output')
