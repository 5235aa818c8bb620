"""Loopback servers for the engine's tests and benchmarks: nginx serving a
folder, and a fault server whose answers misbehave on purpose.

The fault server serves one body (set by the test) under /<mode>/<name>; the
mode says how it misbehaves. Everything is the standard library plus nginx.
"""
import hashlib
import http.server
import os
import random
import shutil
import socket
import socketserver
import struct
import subprocess
import tempfile
import threading
import time
import urllib.parse

# Sharing between players stays on loopback: the engine serves and announces
# on this address only, so nothing reaches the machine's network.
os.environ.setdefault("P2SP_SHARE_ADDRESS", "127.0.0.1")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_data(size, seed=1):
    rng = random.Random(seed)
    return rng.randbytes(size)


def md5_tail(data):
    import hashlib
    limit = 52428800
    return hashlib.md5(data if len(data) <= limit else data[-limit:]).hexdigest()


class Nginx:
    """nginx on a free loopback port serving `root`. /slow/ is limited to
    `slow_rate` and /rate/ to `rate` per connection; the access log records
    the body bytes sent for each request."""

    def __init__(self, root, rate="20m", slow_rate="512k"):
        self.root = os.path.abspath(root)
        self.dir = tempfile.mkdtemp(prefix="p2sp-nginx-")
        self.port = free_port()
        self.rate = rate
        self.slow_rate = slow_rate
        self.proc = None

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path.lstrip("/"))

    def start(self):
        d = self.dir
        conf = """
worker_processes 1;
daemon off;
master_process off;
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections 1024; }}
http {{
  log_format bytes '$uri $status $body_bytes_sent';
  access_log {d}/access.log bytes;
  client_body_temp_path {d}/body; proxy_temp_path {d}/proxy; fastcgi_temp_path {d}/fcgi;
  uwsgi_temp_path {d}/uwsgi; scgi_temp_path {d}/scgi;
  sendfile on; keepalive_requests 100000;
  server {{
    listen 127.0.0.1:{port};
    root {root};
    location /rate/ {{ alias {root}/; limit_rate {rate}; }}
    location /slow/ {{ alias {root}/; limit_rate {slow}; }}
  }}
}}
""".format(d=d, port=self.port, root=self.root, rate=self.rate, slow=self.slow_rate)
        with open(os.path.join(d, "nginx.conf"), "w") as f:
            f.write(conf)
        self.proc = subprocess.Popen(["nginx", "-p", d, "-c", os.path.join(d, "nginx.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return self
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not start: " + open(os.path.join(d, "error.log")).read())

    def bytes_served(self):
        total = 0
        path = os.path.join(self.dir, "access.log")
        if os.path.exists(path):
            with open(path) as log:
                lines = log.readlines()
            for line in lines:
                parts = line.split()
                if len(parts) == 3:
                    total += int(parts[2])
        return total

    def clear_log(self):
        open(os.path.join(self.dir, "access.log"), "w").close()
        # nginx keeps writing at its own offset; reopen the log.
        if self.proc:
            subprocess.run(["nginx", "-p", self.dir, "-c", os.path.join(self.dir, "nginx.conf"), "-s", "reopen"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.2)

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc = None
        shutil.rmtree(self.dir, ignore_errors=True)


TAIL_BYTES = 52428800
BAD_OFFSET = 5 * (1 << 20) + 7
BURST = 4  # refusals of the badburst mode that land together


def meta4(data, name="file.bin", urls=(), piece=1 << 20, size=None):
    """A Metalink 4 manifest of `data` as gamecfg writes it."""
    pieces = "".join("      <hash>%s</hash>\n" % hashlib.sha256(data[i:i + piece]).hexdigest()
                     for i in range(0, len(data), piece))
    mirrors = "".join("    <url>%s</url>\n" % u for u in urls)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<metalink xmlns="urn:ietf:params:xml:ns:metalink">\n'
            '  <file name="%s">\n    <size>%d</size>\n    <hash type="sha-256">%s</hash>\n'
            '    <pieces length="%d" type="sha-256">\n%s    </pieces>\n%s  </file>\n</metalink>\n'
            % (name, len(data) if size is None else size, hashlib.sha256(data).hexdigest(), piece, pieces,
               mirrors)).encode()


def parse_range(value, size):
    if not value or not value.startswith("bytes=") or "," in value:
        return None
    first, _, last = value[6:].partition("-")
    if first == "":
        return None
    start = int(first)
    end = int(last) + 1 if last else size
    return start, min(end, size)


class FaultServer:
    """Modes (first path segment):
      ok        honest, with ranges
      reset     every answer is cut off by a connection reset after 256 KiB
      norange   200 and the whole body whatever the Range says
      laterwhole  honest for the first six requests, then like norange (a server
                whose later answers come from a cache that drops ranges)
      badrange  every other ranged answer names a range other than the one asked for
      badburst  the first BURST ranged requests after the first one name a range
                other than the one asked for, all answered at once when the last
                of them has come, and later answers 0.2 s after them (several
                connections' refusals landing together, nothing gained between)
      short     the first three answers end early with a clean close
      busy      503 for the first three requests
      stall     the first answer sends 64 KiB and then nothing for 30 s
      redirect  302 to /ok/<name>
      nolength  200, no Content-Length, no ranges, close at the end
      chunked   200 chunked, no ranges
      flip      honest ranges, but one byte in the middle is wrong
      lie       like flip, but many bytes wrong (a lying extra source)
      slowlie   like lie, at about 1 MB/s per answer
      pretail   many bytes wrong before the last 52428800 (the part the MD5
                text checks), right in it
      missing   404
      badpiece  honest, but the byte at BAD_OFFSET is wrong (one bad piece)
      stale     ranges of `stale_data`: another file of the same size
      described honest, with a Link header naming /manifest/<name>.meta4
    and /seed?... answers the lines set in `seed_lines`; /<mode>/<name>.meta4
    answers `meta4[mode]` when set, else 404."""

    def __init__(self):
        self.data = b""
        self.port = free_port()
        self.counts = {}
        self.bytes = {}
        self.spans = {}  # mode -> [(start, end)] of the bodies sent
        self.meta4 = {}
        self.stale_data = b""
        self.seed_lines = []
        self.seed_queries = []
        self.lock = threading.Lock()
        self.burst_sent = threading.Event()
        self.burst = threading.Barrier(BURST, action=self.burst_sent.set, timeout=5)
        self.server = None

    def url(self, mode, name="file.bin"):
        return "http://127.0.0.1:%d/%s/%s" % (self.port, mode, name)

    def reset_counts(self):
        with self.lock:
            self.counts.clear()
            self.burst_sent = threading.Event()
            self.burst = threading.Barrier(BURST, action=self.burst_sent.set, timeout=5)
            self.bytes.clear()
            self.spans.clear()
            self.seed_queries.clear()

    def start(self):
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def send_body(self, mode, body):
                with outer.lock:
                    outer.bytes[mode] = outer.bytes.get(mode, 0) + len(body)
                self.wfile.write(body)

            def do_GET(self):
                parsed = urllib.parse.urlparse(self.path)
                parts = parsed.path.strip("/").split("/")
                mode = parts[0]
                with outer.lock:
                    n = outer.counts.get(mode, 0)
                    outer.counts[mode] = n + 1
                if mode == "seed":
                    with outer.lock:
                        outer.seed_queries.append(urllib.parse.parse_qs(parsed.query))
                    body = "".join(line + "\n" for line in outer.seed_lines).encode()
                    self.send_response(200)
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                    return
                if parsed.path.endswith(".meta4"):
                    text = outer.meta4.get(mode)
                    return self.plain(200, text) if text is not None else self.plain(404, b"no manifest")
                data = outer.stale_data if mode == "stale" else outer.data
                size = len(data)
                if mode == "missing":
                    return self.plain(404, b"not here")
                if mode == "busy" and n < 3:
                    return self.plain(503, b"")
                if mode == "redirect":
                    self.send_response(302)
                    self.send_header("Location", "/ok/" + "/".join(parts[1:]))
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if mode in ("norange", "nolength", "chunked") or (mode == "laterwhole" and n >= 6):
                    self.send_response(200)
                    if mode in ("norange", "laterwhole"):
                        self.send_header("Content-Length", str(size))
                    elif mode == "chunked":
                        self.send_header("Transfer-Encoding", "chunked")
                    else:
                        self.send_header("Connection", "close")
                        self.close_connection = True
                    self.end_headers()
                    if mode == "chunked":
                        for i in range(0, size, 100000):
                            piece = data[i:i + 100000]
                            self.wfile.write(b"%x\r\n" % len(piece))
                            self.send_body(mode, piece)
                            self.wfile.write(b"\r\n")
                        self.wfile.write(b"0\r\n\r\n")
                    else:
                        self.send_body(mode, data)
                    return
                span = parse_range(self.headers.get("Range"), size)
                if span is None or span[0] >= size:
                    if span is not None:
                        self.send_response(416)
                        self.send_header("Content-Range", "bytes */%d" % size)
                        self.send_header("Content-Length", "0")
                        self.end_headers()
                        return
                    span = (0, size)
                start, end = span
                body = data[start:end]
                with outer.lock:
                    outer.spans.setdefault(mode, []).append((start, end))
                if mode in ("flip", "lie", "slowlie", "pretail", "badpiece") and body:
                    body = bytearray(body)
                    if mode in ("lie", "slowlie"):
                        for i in range(0, len(body), 4096):
                            body[i] ^= 0x5A
                    elif mode == "badpiece":
                        if start <= BAD_OFFSET < end:
                            body[BAD_OFFSET - start] ^= 0xFF
                    elif mode == "pretail":
                        for i in range(0, min(len(body), size - TAIL_BYTES - start), 4096):
                            body[i] ^= 0x5A
                    else:
                        mid = size // 2
                        if start <= mid < end:
                            body[mid - start] ^= 0xFF
                    body = bytes(body)
                shown = (start, end)
                if mode == "badrange" and n % 2 == 0:
                    shown = (start + 1, end)  # says it starts elsewhere
                with outer.lock:
                    ranged = len(outer.spans.get(mode, [])) - 1  # data requests before this one
                if mode == "badburst" and 1 <= ranged <= BURST:
                    shown = (start + 1, end)
                    try:
                        outer.burst.wait()
                    except threading.BrokenBarrierError:
                        pass
                elif mode == "badburst" and ranged > BURST:
                    # No byte of a later answer comes between the refusals.
                    outer.burst_sent.wait(5)
                    time.sleep(0.2)
                self.send_response(206 if self.headers.get("Range") else 200)
                if self.headers.get("Range"):
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (shown[0], shown[1] - 1, size))
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Accept-Ranges", "bytes")
                if mode == "described":
                    self.send_header("Link", '</manifest/%s.meta4>; rel=describedby; type="application/metalink4+xml"'
                                     % parts[-1])
                self.end_headers()
                if mode == "reset":
                    self.send_body(mode, body[:256 * 1024])
                    if len(body) > 256 * 1024:
                        self.wfile.flush()
                        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                        self.connection.close()
                        self.close_connection = True
                    return
                if mode == "short" and n < 3:
                    self.send_body(mode, body[:len(body) // 3])
                    self.close_connection = True
                    return
                if mode == "stall" and n == 0:
                    self.send_body(mode, body[:65536])
                    self.wfile.flush()
                    time.sleep(30)
                    self.close_connection = True
                    return
                if mode == "slowlie":
                    for i in range(0, len(body), 65536):
                        self.send_body(mode, body[i:i + 65536])
                        time.sleep(0.06)
                    return
                for i in range(0, len(body), 1 << 20):
                    self.send_body(mode, body[i:i + (1 << 20)])

            def plain(self, status, body):
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True
            request_queue_size = 64

            def handle_error(self, request, client_address):
                pass  # clients that hang up early are what these tests are about

        self.server = Server(("127.0.0.1", self.port), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def stop(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None
