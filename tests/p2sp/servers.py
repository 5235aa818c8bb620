"""Loopback servers for the engine's tests and benchmarks: nginx serving a
folder, a fault server whose answers misbehave on purpose, an origin held to
one rate over all its connections, and what players sharing a file see of
each other: announces on the multicast group (held to 127.0.0.1) and fake
peers serving piece maps and pieces.

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


class _LoopbackServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are what these tests are about


def loopback_server(port, handler, queue):
    """A threaded HTTP server on 127.0.0.1:`port` that says nothing of
    clients hanging up; `queue` is its listen backlog."""
    server_class = type("Server", (_LoopbackServer,), {"request_queue_size": queue})
    return server_class(("127.0.0.1", port), handler)


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

        self.server = loopback_server(self.port, Handler, 64)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def stop(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None


class TotalThrottle:
    """One allowance of `rate` bytes per second shared by every connection.
    Each chunk books its slot on one clock and waits for it, so a hundred
    connections cost one sleep per chunk, not a busy poll."""

    def __init__(self, rate, burst_seconds=0.1):
        self.rate = float(rate)
        self.burst = burst_seconds
        self.next = time.monotonic()
        self.lock = threading.Lock()

    def take(self, size):
        with self.lock:
            now = time.monotonic()
            start = max(now - self.burst, self.next)
            self.next = start + size / self.rate
            delay = self.next - now
        if delay > 0:
            time.sleep(delay)


class ThrottledOrigin:
    """A download server on loopback for the files of `root`, honest with
    ranges, all its connections together held to `rate` bytes per second (a
    publisher's uplink rather than nginx's limit per connection).
    `<name>.meta4` beside a file is served unthrottled when it exists."""

    CHUNK = 32 * 1024

    def __init__(self, root, rate):
        self.root = os.path.abspath(root)
        self.port = free_port()
        self.throttle = TotalThrottle(rate)
        self.sent = 0
        self.requests = 0
        self.lock = threading.Lock()
        self.server = None

    def url(self, name):
        return "http://127.0.0.1:%d/%s" % (self.port, name)

    def start(self):
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                name = urllib.parse.urlparse(self.path).path.lstrip("/")
                path = os.path.join(outer.root, name)
                if "/" in name or name.startswith(".") or not os.path.isfile(path):
                    return self.answer(404, b"not here")
                if name.endswith(".meta4"):
                    with open(path, "rb") as f:
                        return self.answer(200, f.read())
                size = os.path.getsize(path)
                span = parse_range(self.headers.get("Range"), size)
                if self.headers.get("Range") and (span is None or span[0] >= size):
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % size)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                start, end = span or (0, size)
                with outer.lock:
                    outer.requests += 1
                self.send_response(206 if span else 200)
                if span:
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size))
                self.send_header("Content-Length", str(end - start))
                self.send_header("Accept-Ranges", "bytes")
                self.end_headers()
                with open(path, "rb") as f:
                    offset = start
                    while offset < end:
                        n = min(outer.CHUNK, end - offset)
                        outer.throttle.take(n)
                        block = os.pread(f.fileno(), n, offset)
                        self.wfile.write(block)
                        with outer.lock:
                            outer.sent += len(block)
                        offset += n

            def answer(self, status, body):
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = loopback_server(self.port, Handler, 256)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def stop(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None


# Peers on the local network find each other by multicast; everything here
# stays on loopback: the interface is 127.0.0.1 and announces live one hop.
ANNOUNCE_GROUP = "239.255.71.71"
ANNOUNCE_PORT = 27171


def loopback_multicast_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    return s


def announce_text(sha256, port, instance):
    return b"GDPEER 1 %s %d %d\n" % (sha256.lower().encode(), port, instance)


def parse_announce(data):
    """(sha256, port, instance) of an announce of the exact shape, else None."""
    if not data.endswith(b"\n"):
        return None
    words = data[:-1].split(b" ")
    if len(words) != 5 or words[0] != b"GDPEER" or words[1] != b"1":
        return None
    try:
        return words[2].decode(), int(words[3]), int(words[4])
    except ValueError:
        return None


class AnnounceListener:
    """Joins the announce group on 127.0.0.1 and keeps what it hears, with
    the time each announce arrived."""

    def __init__(self):
        self.heard = []  # (monotonic time, sha256, port, instance)
        self.lock = threading.Lock()
        self.sock = None
        self.stopping = False

    def start(self):
        s = loopback_multicast_socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("", ANNOUNCE_PORT))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                     socket.inet_aton(ANNOUNCE_GROUP) + socket.inet_aton("127.0.0.1"))
        s.settimeout(0.2)
        self.sock = s
        threading.Thread(target=self.run, daemon=True).start()
        return self

    def run(self):
        while not self.stopping:
            try:
                data, _ = self.sock.recvfrom(512)
            except socket.timeout:
                continue
            except OSError:
                return
            parsed = parse_announce(data)
            if parsed:
                with self.lock:
                    self.heard.append((time.monotonic(),) + parsed)

    def announces(self, sha256=None):
        with self.lock:
            return [h for h in self.heard if sha256 is None or h[1] == sha256.lower()]

    def stop(self):
        self.stopping = True
        if self.sock:
            self.sock.close()


def piece_map_text(size, piece, have=None):
    count = (size + piece - 1) // piece
    bits = "".join("1" if have is None or i in have else "0" for i in range(count))
    return ("pieces 1\nsize %d\npiece %d\nmap %s\n" % (size, piece, bits)).encode()


class FakePeer:
    """Another player as the engine sees one: announces `sha256` on loopback
    every `period` seconds and serves the file at `path` by the piece-map
    routes (/m/<sha256>, /p/<sha256> with a Range), claiming every piece.
    Modes:
      ok      honest
      flip    the first byte answer has one byte flipped in the middle of its
              range, and so has every later answer covering that byte
      lie     every answer has a byte flipped every 4 KiB (no piece is right)
      refuse  every byte request gets 416, although the map claims them all
      killed  the first byte answer stops after `cut` bytes and the peer goes
              away as a killed process does: connections reset, port closed,
              no more announces
      stall   the first byte answer sends `cut` bytes and then nothing
      late    honest, but its first map request gets 404, as from a player
              whose announce went out before its file was registered
      trickle every byte answer sends its headers and then 2 bytes a second
      tricklelie  the same with wrong bytes
      redirect    every map and byte request gets a 302 to `redirect_to`
    """

    def __init__(self, path, sha256, piece=4 << 20, mode="ok", period=1.0, cut=1 << 20):
        self.path = path
        self.size = os.path.getsize(path)
        self.sha256 = sha256.lower()
        self.piece = piece
        self.mode = mode
        self.period = period
        self.cut = cut
        self.instance = random.getrandbits(62)
        self.port = free_port()
        self.requests = []  # (monotonic time, route, Range header)
        self.bytes_sent = 0
        self.answers = 0  # byte answers begun
        self.bad_at = None  # offset of the flipped byte (flip)
        self.bad_sent = []  # monotonic times a wrong byte was sent
        self.gone = threading.Event()
        self.lock = threading.Lock()
        self.conns = set()
        self.redirect_to = None
        self.server = None
        self.sender = None

    def start(self):
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def setup(self):
                super().setup()
                with outer.lock:
                    outer.conns.add(self.connection)

            def finish(self):
                with outer.lock:
                    outer.conns.discard(self.connection)
                try:
                    super().finish()
                except OSError:
                    pass

            def do_HEAD(self):
                self.do_GET(head=True)

            def do_GET(self, head=False):
                route, _, sha = self.path.strip("/").partition("/")
                with outer.lock:
                    outer.requests.append((time.monotonic(), route, self.headers.get("Range")))
                if sha.lower() != outer.sha256 or route not in ("m", "p"):
                    return self.answer(404, b"", head)
                if outer.mode == "redirect":
                    self.send_response(302)
                    self.send_header("Location", outer.redirect_to + "/" + route + "/" + sha)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if route == "m":
                    with outer.lock:
                        maps = sum(1 for r in outer.requests if r[1] == "m")
                    if outer.mode == "late" and maps == 1:
                        return self.answer(404, b"", head)
                    return self.answer(200, piece_map_text(outer.size, outer.piece), head)
                span = parse_range(self.headers.get("Range"), outer.size)
                if not self.headers.get("Range"):
                    return self.answer(404, b"", head)
                if span is None or span[0] >= outer.size or outer.mode == "refuse":
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % outer.size)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                start, end = span
                self.send_response(206)
                self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, outer.size))
                self.send_header("Content-Length", str(end - start))
                self.end_headers()
                if head:
                    return
                with open(outer.path, "rb") as f:
                    body = bytearray(os.pread(f.fileno(), end - start, start))
                wrong = False
                with outer.lock:
                    outer.answers += 1
                    first = outer.answers == 1
                    if outer.mode == "flip" and outer.bad_at is None:
                        outer.bad_at = (start + end) // 2
                    bad_at = outer.bad_at
                if outer.mode == "flip" and start <= bad_at < end:
                    body[bad_at - start] ^= 0xFF
                    wrong = True
                elif outer.mode in ("lie", "tricklelie"):
                    for i in range(0, len(body), 4096):
                        body[i] ^= 0x5A
                    wrong = True
                if outer.mode in ("trickle", "tricklelie"):
                    for i in range(len(body)):
                        if outer.gone.wait(0.5):
                            break
                        self.send(bytes(body[i:i + 1]))
                        self.wfile.flush()
                    self.close_connection = True
                    return
                if first and outer.mode in ("killed", "stall"):
                    self.send(bytes(body[:outer.cut]))
                    self.wfile.flush()
                    if outer.mode == "killed":
                        outer.die()
                    else:
                        time.sleep(120)
                    self.close_connection = True
                    return
                for i in range(0, len(body), 1 << 20):
                    self.send(bytes(body[i:i + (1 << 20)]))
                if wrong:
                    with outer.lock:
                        outer.bad_sent.append(time.monotonic())

            def send(self, block):
                self.wfile.write(block)
                with outer.lock:
                    outer.bytes_sent += len(block)

            def answer(self, status, body, head):
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if not head:
                    self.wfile.write(body)

        self.server = loopback_server(self.port, Handler, 64)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.sender = loopback_multicast_socket()
        threading.Thread(target=self.announce, daemon=True).start()
        return self

    def announce(self):
        text = announce_text(self.sha256, self.port, self.instance)
        while not self.gone.is_set():
            try:
                self.sender.sendto(text, (ANNOUNCE_GROUP, ANNOUNCE_PORT))
            except OSError:
                pass
            self.gone.wait(self.period)

    def byte_requests(self):
        with self.lock:
            return [r for r in self.requests if r[1] == "p"]

    def die(self):
        """Everything a killed process leaves: reset connections, no port."""
        self.gone.set()
        server, self.server = self.server, None
        if server:
            threading.Thread(target=server.shutdown, daemon=True).start()
            server.socket.close()
        with self.lock:
            conns = list(self.conns)
        for c in conns:
            try:
                c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def stop(self):
        self.die()
        if self.sender:
            self.sender.close()
