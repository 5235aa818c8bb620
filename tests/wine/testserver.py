#!/usr/bin/env python3
"""Scriptable local HTTP/1.1 server for the integration tests.

Use it from Python:

    srv = TestServer(root="/some/dir")
    srv.start()
    srv.add("/list.json", body=b"[]")
    srv.add("/big.bin", file="/tmp/big.bin", truncate_at=1000)
    ... point the program at srv.url("/list.json") ...
    srv.stop()

or as a process the Wine-side tests talk to:

    python3 testserver.py --port 0 --root DIR --routes routes.json --log req.jsonl

which prints "listening on PORT" once it accepts connections.  The recorded
requests are then available at GET /__control/requests (and POST or GET
/__control/clear forgets them).

Only the standard library is used so that the tests run on a bare machine.
"""

import argparse
import io
import json
import mimetypes
import os
import posixpath
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTROL_PREFIX = "/__control/"

# Statuses whose responses never carry a body, whatever the route says.
_NO_BODY_STATUSES = {204, 304}

_ROUTE_OPTIONS = {
    "body", "file", "status", "content_length", "chunked", "truncate_at",
    "delay", "chunk_delay", "chunk_size", "headers",
}


class Route:
    """One canned response.  The body is read when a request arrives, so a
    test may register a file before writing it."""

    def __init__(self, body=None, file=None, status=200, content_length=True,
                 chunked=False, truncate_at=None, delay=0.0, chunk_delay=0.0,
                 chunk_size=None, headers=None):
        if body is not None and file is not None:
            raise ValueError("a route takes either body or file, not both")
        if isinstance(body, str):
            body = body.encode("utf-8")
        if body is not None and not isinstance(body, (bytes, bytearray)):
            raise TypeError("body must be bytes or str")
        if not isinstance(status, int) or not 100 <= status <= 999:
            raise ValueError("status must be a three-digit number: %r" % (status,))
        if truncate_at is not None and (not isinstance(truncate_at, int) or truncate_at < 0):
            raise ValueError("truncate_at must be a non-negative integer")
        if chunk_size is not None and (not isinstance(chunk_size, int) or chunk_size <= 0):
            raise ValueError("chunk_size must be a positive integer")
        for name, value in (("delay", delay), ("chunk_delay", chunk_delay)):
            if not isinstance(value, (int, float)) or value < 0:
                raise ValueError("%s must be a non-negative number of seconds" % name)
        if headers is not None and not isinstance(headers, dict):
            raise TypeError("headers must be a dict")
        self.body = bytes(body) if body is not None else (b"" if file is None else None)
        self.file = os.fspath(file) if file is not None else None
        self.status = status
        self.content_length = bool(content_length)
        self.chunked = bool(chunked)
        self.truncate_at = truncate_at
        self.delay = float(delay)
        self.chunk_delay = float(chunk_delay)
        self.chunk_size = chunk_size
        self.headers = dict(headers or {})

    def open_body(self):
        """Returns (size, binary stream)."""
        if self.file is not None:
            stream = open(self.file, "rb")
            return os.fstat(stream.fileno()).st_size, stream
        return len(self.body), io.BytesIO(self.body)


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestServer/1"

    # The owning TestServer; set on a per-server subclass.
    owner = None

    def log_message(self, format, *args):  # noqa: A002 - base class name
        pass

    def setup(self):
        super().setup()
        self.owner._track(self.connection, True)

    def finish(self):
        try:
            super().finish()
        finally:
            self.owner._track(self.connection, False)

    def _dispatch(self):
        self._drain_request_body()
        raw_path = self.path
        bare_path = raw_path.split("?", 1)[0]
        if bare_path.startswith(CONTROL_PREFIX):
            self._control(bare_path[len(CONTROL_PREFIX):])
            return
        self.owner._record(self)
        route = self.owner._route_for(raw_path)
        if route is not None:
            self._send_route(route)
        else:
            self._send_root_file(bare_path)

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = _dispatch

    def _drain_request_body(self):
        # Unread request bodies would be parsed as the next request on a
        # kept-alive connection.
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            self.close_connection = True
            return
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            self.close_connection = True
            return
        while length > 0:
            data = self.rfile.read(min(length, 65536))
            if not data:
                break
            length -= len(data)

    # -- responses -------------------------------------------------------

    def _write_headers(self, status, headers):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    @staticmethod
    def _merge_headers(defaults, extra):
        """Route headers replace defaults of the same name; a value of None
        removes the header and a list sends it several times."""
        merged = [(k, v) for k, v in defaults
                  if k.lower() not in {e.lower() for e in extra}]
        for name, value in extra.items():
            if value is None:
                continue
            values = value if isinstance(value, (list, tuple)) else [value]
            merged.extend((name, str(v)) for v in values)
        return merged

    def _send_route(self, route):
        if route.delay:
            time.sleep(route.delay)
        try:
            size, stream = route.open_body()
        except OSError:
            self._send_empty(500)
            return
        with stream:
            status = route.status
            has_body = status not in _NO_BODY_STATUSES and status >= 200
            defaults = [("Content-Type", "application/octet-stream")] if has_body else []
            close_after = False
            if has_body and route.chunked:
                defaults.append(("Transfer-Encoding", "chunked"))
            elif has_body and route.content_length:
                defaults.append(("Content-Length", str(size)))
            elif has_body:
                # The end of the body is the end of the connection.
                defaults.append(("Connection", "close"))
                close_after = True
            self._write_headers(status, self._merge_headers(defaults, route.headers))
            if close_after:
                self.close_connection = True
            if self.command == "HEAD" or not has_body:
                return
            limit = size
            if route.truncate_at is not None and route.truncate_at < size:
                limit = route.truncate_at
            piece = route.chunk_size or (1024 if route.chunk_delay else 65536)
            self._send_stream(stream, limit, piece, route.chunk_delay, route.chunked)
            if limit < size:
                self.close_connection = True
            elif route.chunked:
                self.wfile.write(b"0\r\n\r\n")

    def _send_stream(self, stream, length, piece, pause, chunked):
        first = True
        while length > 0:
            data = stream.read(min(piece, length))
            if not data:
                # The file shrank underneath us; the client sees a short body.
                self.close_connection = True
                return
            if not first and pause:
                time.sleep(pause)
            first = False
            if chunked:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
            else:
                self.wfile.write(data)
            length -= len(data)

    def _send_empty(self, status, headers=()):
        self._write_headers(status, [("Content-Length", "0")] + list(headers))

    def _send_root_file(self, bare_path):
        full = self.owner._root_file(bare_path)
        if full is None:
            self._send_empty(404)
            return
        try:
            stream = open(full, "rb")
        except OSError:
            self._send_empty(404)
            return
        with stream:
            size = os.fstat(stream.fileno()).st_size
            span = _parse_range(self.headers.get("Range"), size)
            ctype = mimetypes.guess_type(full)[0] or "application/octet-stream"
            common = [("Content-Type", ctype), ("Accept-Ranges", "bytes")]
            if span == "unsatisfiable":
                self._send_empty(416, [("Content-Range", "bytes */%d" % size)])
                return
            if span is None:
                status, start, end = 200, 0, size
                extra = []
            else:
                status, (start, end) = 206, span
                extra = [("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size))]
            self._write_headers(status, common + extra + [("Content-Length", str(end - start))])
            if self.command == "HEAD":
                return
            stream.seek(start)
            self._send_stream(stream, end - start, 65536, 0, False)

    def _control(self, name):
        if name == "requests":
            payload = json.dumps(self.owner.requests()).encode("utf-8")
        elif name == "clear":
            self.owner.clear_requests()
            payload = b"[]"
        else:
            self._send_empty(404)
            return
        self._write_headers(200, [("Content-Type", "application/json"),
                                  ("Content-Length", str(len(payload)))])
        if self.command != "HEAD":
            self.wfile.write(payload)


def _parse_range(value, size):
    """Returns None to send the whole file, (start, end_exclusive), or
    "unsatisfiable".  Anything we do not understand, multiple ranges
    included, is ignored the way HTTP allows."""
    if not value:
        return None
    unit, _, byte_range = value.strip().partition("=")
    if unit.strip().lower() != "bytes" or "," in byte_range:
        return None
    first, dash, last = byte_range.strip().partition("-")
    first, last = first.strip(), last.strip()
    if not dash or (first and not first.isdigit()) or (last and not last.isdigit()):
        return None
    if not first:
        if not last:
            return None
        suffix = int(last)
        if suffix == 0 or size == 0:
            return "unsatisfiable"
        return max(0, size - suffix), size
    start = int(first)
    end = int(last) + 1 if last else size
    if last and end <= start:
        return None  # syntactically invalid: last before first
    if start >= size:
        return "unsatisfiable"
    return start, min(end, size)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    # With a TLS context, each accepted connection shakes hands in its own
    # handler thread (on its first read), so a client that refuses the
    # certificate never holds up the others.
    tls_context = None

    def get_request(self):
        sock, address = super().get_request()
        if self.tls_context is not None:
            sock = self.tls_context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address
    allow_reuse_address = True
    # Tests open bursts of connections; the default backlog of 5 makes the
    # kernel drop SYNs and the client retry a second later.
    request_queue_size = 128

    def handle_error(self, request, client_address):
        # Clients that hang up early are part of what these tests do.
        exc = sys.exc_info()[1]
        if isinstance(exc, (ConnectionError, socket.timeout, ssl.SSLError)):
            return
        super().handle_error(request, client_address)


class TestServer:
    __test__ = False  # not a unittest/pytest case despite the name

    def __init__(self, port=0, root=None, host="127.0.0.1", log=None, tls=None):
        """tls: (certificate chain file, key file) to serve HTTPS; its URLs
        then name "localhost", the name such certificates are made for."""
        self.host = host
        self.tls = tls
        self._requested_port = port
        self.root = os.path.realpath(root) if root is not None else None
        self._log_path = log
        self._log_file = None
        self._routes = {}
        self._requests = []
        self._cond = threading.Condition()
        self._connections = set()
        self._httpd = None
        self._thread = None

    # -- lifecycle -------------------------------------------------------

    def start(self):
        if self._httpd is not None:
            raise RuntimeError("server already started")
        handler = type("Handler", (_Handler,), {"owner": self})
        if self._log_path is not None:
            self._log_file = open(self._log_path, "a", encoding="utf-8")
        self._httpd = _Server((self.host, self._requested_port), handler)
        if self.tls is not None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*self.tls)
            self._httpd.tls_context = context
        self._thread = threading.Thread(target=self._httpd.serve_forever,
                                        # stop() waits up to one poll interval.
                                        kwargs={"poll_interval": 0.01},
                                        name="testserver", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._httpd is None:
            return
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join()
        # Kept-alive connections would otherwise go on being served.
        with self._cond:
            connections = list(self._connections)
        for conn in connections:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self._httpd = None
        self._thread = None
        with self._cond:
            if self._log_file is not None:
                self._log_file.close()
                self._log_file = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        if self._httpd is None:
            raise RuntimeError("server not started")
        return self._httpd.server_address[1]

    def url(self, path="/"):
        if not path.startswith("/"):
            path = "/" + path
        if self.tls is not None:
            return "https://localhost:%d%s" % (self.port, path)
        return "http://%s:%d%s" % (self.host, self.port, path)

    # -- routes ----------------------------------------------------------

    def add(self, path, **options):
        """Registers (or replaces) the response for an exact request path,
        query string included.  A request whose full path is not registered
        falls back to the route for the path without its query string."""
        if not path.startswith("/"):
            raise ValueError("path must start with '/': %r" % (path,))
        unknown = set(options) - _ROUTE_OPTIONS
        if unknown:
            raise TypeError("unknown route option(s): %s" % ", ".join(sorted(unknown)))
        route = Route(**options)
        with self._cond:
            self._routes[path] = route
        return route

    def remove(self, path):
        with self._cond:
            self._routes.pop(path, None)

    def _route_for(self, raw_path):
        with self._cond:
            route = self._routes.get(raw_path)
            if route is None and "?" in raw_path:
                route = self._routes.get(raw_path.split("?", 1)[0])
            return route

    def _root_file(self, bare_path):
        if self.root is None:
            return None
        rel = posixpath.normpath(urllib.parse.unquote(bare_path))
        parts = [p for p in rel.split("/") if p not in ("", ".")]
        if ".." in parts or any("\\" in p or "\0" in p for p in parts):
            return None
        full = os.path.realpath(os.path.join(self.root, *parts))
        if full != self.root and not full.startswith(self.root + os.sep):
            return None  # a symlink pointing out of the root
        return full if os.path.isfile(full) else None

    # -- recorded requests -----------------------------------------------

    def _record(self, handler):
        entry = {
            "method": handler.command,
            "path": handler.path,
            "version": handler.request_version,
            "headers": dict(handler.headers.items()),
            "time": time.time(),
        }
        with self._cond:
            self._requests.append(entry)
            if self._log_file is not None:
                self._log_file.write(json.dumps(entry) + "\n")
                self._log_file.flush()
            self._cond.notify_all()

    def requests(self):
        with self._cond:
            return [dict(r, headers=dict(r["headers"])) for r in self._requests]

    def clear_requests(self):
        with self._cond:
            self._requests.clear()

    def wait_for(self, predicate, timeout=5.0):
        """Waits until predicate(requests()) is true and returns its value,
        or returns None after timeout seconds."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                result = predicate(self.requests())
                if result:
                    return result
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self._cond.wait(left)

    def _track(self, conn, alive):
        with self._cond:
            if alive:
                self._connections.add(conn)
            else:
                self._connections.discard(conn)


def load_routes(path):
    """Reads a routes file: a JSON object mapping request path to route
    options.  Relative "file" entries are taken relative to the routes file."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    if not isinstance(data, dict):
        raise ValueError("%s: expected a JSON object of path -> options" % path)
    base = os.path.dirname(os.path.abspath(path))
    routes = {}
    for route_path, options in data.items():
        if not isinstance(options, dict):
            raise ValueError("%s: options for %r must be an object" % (path, route_path))
        options = dict(options)
        if isinstance(options.get("file"), str):
            options["file"] = os.path.join(base, options["file"])
        routes[route_path] = options
    return routes


def main(argv=None):
    parser = argparse.ArgumentParser(description="Scriptable HTTP server for tests.")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--root", help="directory served for unregistered paths")
    parser.add_argument("--routes", help="JSON object: path -> response options")
    parser.add_argument("--log", help="append each request as a JSON line here")
    args = parser.parse_args(argv)

    if args.root is not None and not os.path.isdir(args.root):
        parser.error("--root %s is not a directory" % args.root)
    srv = TestServer(port=args.port, root=args.root, host=args.host, log=args.log)
    if args.routes:
        try:
            for path, options in load_routes(args.routes).items():
                srv.add(path, **options)
        except (OSError, ValueError, TypeError) as exc:
            parser.error("bad routes file: %s" % exc)

    stop = threading.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        signal.signal(sig, lambda *_: stop.set())
    try:
        srv.start()
    except OSError as exc:
        print("cannot listen on %s:%d: %s" % (args.host, args.port, exc), file=sys.stderr)
        return 1
    print("listening on %d" % srv.port, flush=True)
    try:
        while not stop.wait(0.5):
            pass
    finally:
        srv.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
