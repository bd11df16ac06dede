"""Replay files for quorvel-flows' export tests: writes them, runs the
program on them and knows their flows."""
import ipaddress
import os
import socket
import struct
import sys
import tempfile
import time
import types

LOCAL = '198.18.0.1'
LOCAL6 = '2001:db8::1'


def local_of(remote):
    return LOCAL6 if ':' in remote else LOCAL


def ip_packet(source, destination, protocol, source_port, destination_port, length):
    body = struct.pack('!HH', source_port, destination_port) + bytes(length)
    if ':' in source:  # IPv6: its length is the 40-byte header and the payload
        header = struct.pack('!IHBB16s16s', 6 << 28, length - 40, protocol, 64,
                             ipaddress.ip_address(source).packed, ipaddress.ip_address(destination).packed)
        return header + body[:length - 40]
    header = struct.pack('!BBHHHBBH4s4s', 0x45, 0, length, 1, 0, 64, protocol, 0,
                         ipaddress.ip_address(source).packed, ipaddress.ip_address(destination).packed)
    total = sum(struct.unpack('!10H', header))
    total = (total & 0xFFFF) + (total >> 16)
    checksum = ~((total & 0xFFFF) + (total >> 16)) & 0xFFFF
    return header[:10] + struct.pack('!H', checksum) + header[12:] + body[:length - 20]


def test_packets(extra_udp_flows=0):
    """(time, upload, remote, protocol, local port, remote port, length) rows."""
    packets = [
        (1700000000.250, True, '198.18.5.7', 6, 40000, 443, 60),
        (1700000000.300, False, '198.18.5.7', 6, 40000, 443, 1500),
        (1700000001.125, True, '198.18.5.7', 6, 40000, 443, 100),
        (1700000002.500, False, '198.18.5.7', 6, 40000, 443, 700),
        (1700000003.750, True, '198.18.9.9', 17, 5353, 53, 80),
        (1700000004.000, False, '198.18.9.9', 17, 5353, 53, 200),
        (1700000010.999, True, '198.18.5.7', 6, 40000, 443, 52),
        (1700000011.000, False, '198.18.7.1', 1, 0, 0, 84),
        (1700000012.000, True, '2001:db8::5:7', 6, 40001, 443, 80),
        (1700000012.500, False, '2001:db8::5:7', 6, 40001, 443, 1400),
        (1700000013.000, False, '2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff', 17, 5353, 53, 120),
    ]
    for i in range(extra_udp_flows):
        remote = '198.19.%d.%d' % (i // 200, i % 200 + 1)
        packets.append((1700000020 + i / 1000, True, remote, 17, 20000 + i, 9, 64 + i % 7))
    return packets


def write_pcap(path, packets):
    with open(path, 'wb') as out:
        out.write(struct.pack('<IHHiIII', 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # raw IP
        for moment, upload, remote, protocol, local_port, remote_port, length in packets:
            if upload:
                data = ip_packet(local_of(remote), remote, protocol, local_port, remote_port, length)
            else:
                data = ip_packet(remote, local_of(remote), protocol, remote_port, local_port, length)
            seconds = int(moment)
            micros = int(round((moment - seconds) * 1e6))
            out.write(struct.pack('<IIII', seconds, micros, len(data), len(data)) + data)


def expected_flows(packets):
    """{(remote, protocol, local port, remote port): dict of totals and times}"""
    flows = {}
    for moment, upload, remote, protocol, local_port, remote_port, length in packets:
        flow = flows.setdefault((remote, protocol, local_port, remote_port),
                                dict(up_bytes=0, up_packets=0, down_bytes=0, down_packets=0,
                                     first=moment, last=moment))
        side = 'up' if upload else 'down'
        flow[side + '_bytes'] += length
        flow[side + '_packets'] += 1
        flow['last'] = moment
    return flows


def replay(extra_udp_flows):
    """A replay file with that many more UDP flows in a fresh directory: its
    work directory, packets, expected flows, and `command(*options)`, the
    quorvel-flows command line that replays it."""
    work = tempfile.mkdtemp()
    pcap = os.path.join(work, 'flows.pcap')
    packets = test_packets(extra_udp_flows)
    write_pcap(pcap, packets)
    program = os.path.join(os.environ['QUORVEL_BINARY_DIR'], 'quorvel-flows')
    return types.SimpleNamespace(
        work=work, packets=packets, expected=expected_flows(packets),
        command=lambda *options: [program, '--pcap', pcap, '--address', LOCAL, '--address', LOCAL6, *options])


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


def wait_until(condition, what, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            sys.exit('timed out waiting for ' + what)
        time.sleep(0.05)


def read_tab_rows(text):
    """(local source, local port, remote, remote port, DL, UL) per line of quorvel-flows' table."""
    rows = []
    for line in text.splitlines():
        if line and not line.startswith('#'):
            source, local_port, remote, remote_port, download, upload = line.split('\t')
            rows.append((source, int(local_port), remote, int(remote_port), int(download), int(upload)))
    return rows


def read_tab_output(text):
    """{(remote, local port, remote port): (DL, UL)} from quorvel-flows' table."""
    return {(remote, lp, rp): (dl, ul) for _, lp, remote, rp, dl, ul in read_tab_rows(text)}
