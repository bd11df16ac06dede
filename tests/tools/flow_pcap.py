"""Writes replay files for quorvel-flows' export tests and knows their flows."""
import struct

LOCAL = '198.18.0.1'


def _address(text):
    return bytes(int(part) for part in text.split('.'))


def _checksum(header):
    total = sum(struct.unpack('!10H', header))
    total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ip_packet(source, destination, protocol, source_port, destination_port, length):
    header = struct.pack('!BBHHHBBH4s4s', 0x45, 0, length, 1, 0, 64, protocol, 0,
                         _address(source), _address(destination))
    header = header[:10] + struct.pack('!H', _checksum(header)) + header[12:]
    body = struct.pack('!HH', source_port, destination_port) + bytes(length)
    return header + body[:length - 20]


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
    ]
    for i in range(extra_udp_flows):
        remote = '198.19.%d.%d' % (i // 200, i % 200 + 1)
        packets.append((1700000020 + i / 1000, True, remote, 17, 20000 + i, 9, 64 + i % 7))
    return packets


def write_pcap(path, packets):
    with open(path, 'wb') as out:
        out.write(struct.pack('<IHHiIII', 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # raw IP
        for time, upload, remote, protocol, local_port, remote_port, length in packets:
            if upload:
                data = ip_packet(LOCAL, remote, protocol, local_port, remote_port, length)
            else:
                data = ip_packet(remote, LOCAL, protocol, remote_port, local_port, length)
            seconds = int(time)
            micros = int(round((time - seconds) * 1e6))
            out.write(struct.pack('<IIII', seconds, micros, len(data), len(data)) + data)


def expected_flows(packets):
    """{(remote, protocol, local port, remote port): dict of totals and times}"""
    flows = {}
    for time, upload, remote, protocol, local_port, remote_port, length in packets:
        flow = flows.setdefault((remote, protocol, local_port, remote_port),
                                dict(up_bytes=0, up_packets=0, down_bytes=0, down_packets=0,
                                     first=time, last=time))
        side = 'up' if upload else 'down'
        flow[side + '_bytes'] += length
        flow[side + '_packets'] += 1
        flow['last'] = time
    return flows


def read_tab_output(text):
    """{(remote, local port, remote port): (DL, UL)} from quorvel-flows' table."""
    table = {}
    for line in text.splitlines():
        if line.startswith('#') or not line:
            continue
        _, local_port, remote, remote_port, download, upload = line.split('\t')
        table[(remote, int(local_port), int(remote_port))] = (int(download), int(upload))
    return table
