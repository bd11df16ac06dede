"""Client programs of the attribution tests and benchmark, and their check.

  server ADDR [PAUSE]      HTTP on 8080 (100 KB per GET in ten parts with PAUSE
                           seconds, default 0.02, between) and UDP echo on 9999
  long ADDR COUNT          one process, a new HTTP connection per download
  udp ADDR                 one request/reply exchange, then exit
  listen ADDR PORT COUNT   serves COUNT HTTP downloads on a fresh listener
  check FLOWS EXPECTED MODE
      FLOWS: quorvel-flows' table; EXPECTED: lines "kind local-port
      remote-port name pid". Prints per kind the share of bytes named by
      the right program; exits 1 when MODE's demands fail ("kernel": all
      named; "table": the long-lived program's named; both: one flow per
      connection).

Clients print "pid local-port" per connection. Bounded: only the given
address, only a few connections.
"""
import http.client
import http.server
import os
import socket
import socketserver
import sys
import threading
import time

BODY = b"q" * 100_000
PAUSE = 0.02


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Length", str(len(BODY)))
        self.end_headers()
        # Paced as over a real link (about 200 ms), not in the millisecond a
        # veth pair takes: a connection lives about as long as on the Internet.
        chunk = len(BODY) // 10
        for start in range(0, len(BODY), chunk):
            self.wfile.write(BODY[start:start + chunk])
            self.wfile.flush()
            time.sleep(PAUSE)

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    allow_reuse_address = True
    daemon_threads = True


def serve(address):
    def echo(udp):
        while True:
            data, peer = udp.recvfrom(2048)
            udp.sendto(data * 4, peer)

    for port in (9999, 9998):
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.bind((address, port))
        threading.Thread(target=echo, args=(udp,), daemon=True).start()
    server = Server((address, 8080), Handler)
    print("listening", flush=True)
    server.serve_forever()


def download(address, port):
    connection = http.client.HTTPConnection(address, port, timeout=10)
    connection.connect()
    local_port = connection.sock.getsockname()[1]
    connection.request("GET", "/")
    response = connection.getresponse()
    assert len(response.read()) == len(BODY)
    connection.close()
    return local_port


def long_lived(address, count):
    for _ in range(count):
        print(os.getpid(), download(address, 8080), flush=True)


def udp_once(address, port=9999, local=("", 0)):
    client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    client.settimeout(5)
    client.bind(local)
    client.sendto(b"request " * 100, (address, port))
    client.recvfrom(8192)
    print(os.getpid(), client.getsockname()[1], flush=True)


def listen(address, port, count):
    server = http.server.HTTPServer((address, port), Handler)  # one request at a time, each served whole
    print(os.getpid(), port, flush=True)
    for _ in range(count):
        server.handle_request()


def check(flows_path, expected_path, mode):
    flows = {}
    with open(flows_path) as lines:
        for line in lines:
            if line.startswith("#") or not line.strip():
                if line.startswith("#"):
                    flows = {}
                continue
            source, local, _remote, remote_port, down, up = line.rstrip("\n").split("\t")
            flows.setdefault((int(local), int(remote_port)), []).append((source, int(down) + int(up)))
    kinds = {}
    failures = []
    with open(expected_path) as lines:
        for line in lines:
            kind, local, remote_port, name, pid = line.split()
            found = flows.get((int(local), int(remote_port)), [])
            wanted = f"{name}({pid}): {local}"
            named = sum(b for s, b in found if s == wanted)
            total = sum(b for _, b in found)
            entry = kinds.setdefault(kind, [0, 0, 0])
            entry[0] += named
            entry[1] += total
            entry[2] += 1
            if len(found) != 1:
                failures.append(f"{kind} {local}->{remote_port}: {len(found)} flows {found}")
            elif (mode == "kernel" or kind == "long") and found[0][0] != wanted:
                failures.append(f"{kind} {local}->{remote_port}: {found[0][0]!r}, expected {wanted!r}")
    for kind, (named, total, count) in sorted(kinds.items()):
        share = named / total if total else 0.0
        print(f"{mode}: {kind}: {count} connections, {named} of {total} bytes named by their program: {share:.4f}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


def main():
    role, args = sys.argv[1], sys.argv[2:]
    if role == "server":
        global PAUSE
        PAUSE = float(args[1]) if len(args) > 1 else PAUSE
        serve(args[0])
    elif role == "long":
        long_lived(args[0], int(args[1]))
    elif role == "udp":
        # udp SERVER [PORT [LOCAL_ADDRESS LOCAL_PORT]]
        port = int(args[1]) if len(args) > 1 else 9999
        local = (args[2], int(args[3])) if len(args) > 3 else ("", 0)
        udp_once(args[0], port, local)
    elif role == "listen":
        listen(args[0], int(args[1]), int(args[2]))
    elif role == "check":
        sys.exit(check(args[0], args[1], args[2]))
    else:
        sys.exit(f"unknown role {role}")


if __name__ == "__main__":
    main()
