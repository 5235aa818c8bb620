"""Checks the test HTTP server itself, so that a failing integration test
points at the program and not at its test double."""

import concurrent.futures
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from testserver import TestServer  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def raw_exchange(port, request, timeout=3.0):
    """Sends request bytes and returns everything the server sends until it
    closes the connection."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        data = b""
        while True:
            block = s.recv(65536)
            if not block:
                return data
            data += block


def split_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


def get(port, path, extra=b""):
    return split_response(raw_exchange(
        port, b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
        + extra + b"\r\n"))


class ServerCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = self.tmp.name
        self.srv = TestServer(root=self.root).start()
        self.port = self.srv.port

    def tearDown(self):
        self.srv.stop()
        self.tmp.cleanup()

    def conn(self):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
        self.addCleanup(c.close)
        return c

    def fetch(self, path):
        with urllib.request.urlopen(self.srv.url(path), timeout=3) as r:
            return r.read()


class RegisteredRoutes(ServerCase):
    def test_status_body_and_headers_are_sent_as_registered(self):
        self.srv.add("/busy", body=b"try later", status=503,
                     headers={"Retry-After": "7", "X-Twice": ["a", "b"]})
        c = self.conn()
        c.request("GET", "/busy")
        r = c.getresponse()
        self.assertEqual(r.status, 503)
        self.assertEqual(r.read(), b"try later")
        self.assertEqual(r.getheader("Retry-After"), "7")
        self.assertEqual(r.getheader("Content-Length"), "9")
        self.assertEqual(r.msg.get_all("X-Twice"), ["a", "b"])

    def test_text_body_is_sent_as_utf8_and_file_is_read_per_request(self):
        path = os.path.join(self.root, "later.bin")
        self.srv.add("/t", body="数据")
        self.srv.add("/f", file=path)
        with open(path, "wb") as f:
            f.write(b"written after add")
        self.assertEqual(self.fetch("/t"), "数据".encode())
        self.assertEqual(self.fetch("/f"), b"written after add")

    def test_exact_query_wins_and_other_queries_fall_back_to_bare_path(self):
        self.srv.add("/api?page=2", body=b"second")
        self.srv.add("/api", body=b"any")
        read = self.fetch
        self.assertEqual(read("/api?page=2"), b"second")
        self.assertEqual(read("/api?page=3"), b"any")
        self.assertEqual(read("/api"), b"any")
        self.srv.remove("/api")
        with self.assertRaises(urllib.error.HTTPError) as cm:
            read("/api?page=3")
        cm.exception.close()
        self.assertEqual(cm.exception.code, 404)

    def test_keep_alive_framing_survives_several_requests(self):
        self.srv.add("/a", body=b"one")
        self.srv.add("/b", body=b"two", chunked=True, chunk_size=1)
        c = self.conn()
        for path, want in (("/a", b"one"), ("/b", b"two"), ("/a", b"one")):
            c.request("GET", path)
            self.assertEqual(c.getresponse().read(), want)
        c.request("POST", "/a", body=b"x" * 1000)
        self.assertEqual(c.getresponse().read(), b"one")

    def test_bad_options_are_refused_at_registration(self):
        with self.assertRaises(TypeError):
            self.srv.add("/x", bodie=b"typo")
        with self.assertRaises(ValueError):
            self.srv.add("/x", body=b"a", file="/etc/hostname")
        with self.assertRaises(ValueError):
            self.srv.add("/x", truncate_at=-1)
        with self.assertRaises(ValueError):
            self.srv.add("no-slash")

    def test_missing_route_file_gives_a_server_error_not_a_hang(self):
        self.srv.add("/gone", file=os.path.join(self.root, "never-written"))
        status, headers, body = get(self.port, "/gone")
        self.assertIn(" 500 ", status)
        self.assertEqual(headers["content-length"], "0")


class Framing(ServerCase):
    def test_without_content_length_the_body_ends_with_the_connection(self):
        self.srv.add("/old", body=b"until close", content_length=False)
        status, headers, body = get(self.port, "/old")
        self.assertIn(" 200 ", status)
        self.assertNotIn("content-length", headers)
        self.assertNotIn("transfer-encoding", headers)
        self.assertEqual(headers["connection"], "close")
        self.assertEqual(body, b"until close")

    def test_without_content_length_closes_even_if_client_wants_keep_alive(self):
        self.srv.add("/old", body=b"abc", content_length=False)
        data = raw_exchange(self.port, b"GET /old HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(data.endswith(b"\r\n\r\nabc"))

    def test_chunked_body_arrives_in_the_requested_chunks(self):
        self.srv.add("/c", body=b"abcdefgh", chunked=True, chunk_size=3)
        status, headers, body = get(self.port, "/c")
        self.assertEqual(headers["transfer-encoding"], "chunked")
        self.assertNotIn("content-length", headers)
        self.assertEqual(body, b"3\r\nabc\r\n3\r\ndef\r\n2\r\ngh\r\n0\r\n\r\n")
        c = self.conn()
        c.request("GET", "/c")
        self.assertEqual(c.getresponse().read(), b"abcdefgh")

    def test_truncation_announces_full_length_but_cuts_the_body(self):
        self.srv.add("/cut", body=bytes(range(100)), truncate_at=10)
        status, headers, body = get(self.port, "/cut")
        self.assertEqual(headers["content-length"], "100")
        self.assertEqual(body, bytes(range(10)))
        c = self.conn()
        c.request("GET", "/cut")
        with self.assertRaises(http.client.IncompleteRead) as cm:
            c.getresponse().read()
        self.assertEqual(len(cm.exception.partial), 10)

    def test_truncation_cuts_even_a_keep_alive_connection(self):
        # The client asks to keep the connection; the server must still
        # close it or the client would wait for the missing bytes forever.
        self.srv.add("/cut", body=b"x" * 50, truncate_at=0)
        data = raw_exchange(self.port, b"GET /cut HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(data.endswith(b"\r\n\r\n"))

    def test_truncated_chunked_body_lacks_the_final_chunk(self):
        self.srv.add("/cc", body=b"abcdef", chunked=True, chunk_size=2, truncate_at=4)
        _, _, body = get(self.port, "/cc")
        self.assertEqual(body, b"2\r\nab\r\n2\r\ncd\r\n")

    def test_head_sends_headers_only(self):
        self.srv.add("/h", body=b"0123456789")
        status, headers, body = split_response(raw_exchange(
            self.port, b"HEAD /h HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"))
        self.assertIn(" 200 ", status)
        self.assertEqual(headers["content-length"], "10")
        self.assertEqual(body, b"")

    def test_no_content_statuses_never_carry_a_body(self):
        self.srv.add("/nc", body=b"ignored", status=204)
        c = self.conn()
        c.request("GET", "/nc")
        r = c.getresponse()
        self.assertEqual((r.status, r.read()), (204, b""))
        c.request("GET", "/nc")  # the connection is still in step
        self.assertEqual(c.getresponse().status, 204)


class Timing(ServerCase):
    def test_delay_holds_back_the_whole_answer(self):
        self.srv.add("/slow", body=b"ok", delay=0.3)
        t0 = time.monotonic()
        self.assertEqual(self.fetch("/slow"), b"ok")
        self.assertGreaterEqual(time.monotonic() - t0, 0.28)

    def test_paced_body_reaches_the_client_in_several_blocks(self):
        self.srv.add("/drip", body=b"abcdefghij", chunk_size=4, chunk_delay=0.15)
        with socket.create_connection(("127.0.0.1", self.port), timeout=3) as s:
            s.sendall(b"GET /drip HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            t0 = time.monotonic()
            data = b""
            while b"\r\n\r\n" not in data:
                data += s.recv(65536)
            body = data.partition(b"\r\n\r\n")[2]
            blocks = [body] if body else []
            while True:
                block = s.recv(65536)
                if not block:
                    break
                blocks.append(block)
            elapsed = time.monotonic() - t0
        self.assertEqual(b"".join(blocks), b"abcdefghij")
        self.assertEqual(blocks, [b"abcd", b"efgh", b"ij"])
        self.assertGreaterEqual(elapsed, 0.28)


class RootFiles(ServerCase):
    def setUp(self):
        super().setUp()
        self.data = bytes(range(256)) * 4
        os.makedirs(os.path.join(self.root, "sub dir"))
        with open(os.path.join(self.root, "sub dir", "file.bin"), "wb") as f:
            f.write(self.data)
        self.path = "/sub%20dir/file.bin"

    def test_whole_file_with_length(self):
        status, headers, body = get(self.port, self.path)
        self.assertIn(" 200 ", status)
        self.assertEqual(headers["content-length"], str(len(self.data)))
        self.assertEqual(headers["accept-ranges"], "bytes")
        self.assertEqual(body, self.data)

    def test_satisfiable_ranges(self):
        n = len(self.data)
        cases = {
            "bytes=10-19": (10, 20),
            "bytes=1000-": (1000, n),
            "bytes=-24": (n - 24, n),
            "bytes=1020-99999": (1020, n),  # end past the file is clamped
        }
        for rng, (start, end) in cases.items():
            with self.subTest(rng=rng):
                status, headers, body = get(self.port, self.path,
                                            b"Range: " + rng.encode() + b"\r\n")
                self.assertIn(" 206 ", status)
                self.assertEqual(headers["content-range"], "bytes %d-%d/%d" % (start, end - 1, n))
                self.assertEqual(headers["content-length"], str(end - start))
                self.assertEqual(body, self.data[start:end])

    def test_range_past_the_end_is_416(self):
        for rng in (b"bytes=1024-", b"bytes=5000-6000"):
            with self.subTest(rng=rng):
                status, headers, body = get(self.port, self.path, b"Range: " + rng + b"\r\n")
                self.assertIn(" 416 ", status)
                self.assertEqual(headers["content-range"], "bytes */1024")
                self.assertEqual(body, b"")

    def test_ranges_we_do_not_understand_get_the_whole_file(self):
        for rng in (b"bytes=0-1,5-6", b"items=0-5", b"bytes=9-2", b"bytes=x-"):
            with self.subTest(rng=rng):
                status, _, body = get(self.port, self.path, b"Range: " + rng + b"\r\n")
                self.assertIn(" 200 ", status)
                self.assertEqual(body, self.data)

    def test_registered_route_shadows_root_file(self):
        self.srv.add(self.path, body=b"route")
        self.assertEqual(get(self.port, self.path)[2], b"route")

    def test_unknown_paths_and_escapes_are_empty_404(self):
        with open(os.path.join(os.path.dirname(self.root), "outside.txt"), "w") as f:
            f.write("secret")
        self.addCleanup(os.remove, f.name)
        for path in ("/nothing", "/sub%20dir", "/../outside.txt",
                     "/sub%20dir/..%2F..%2Foutside.txt", "/__control/unknown"):
            with self.subTest(path=path):
                status, headers, body = get(self.port, path)
                self.assertIn(" 404 ", status)
                self.assertEqual(headers["content-length"], "0")
                self.assertEqual(body, b"")


class Recording(ServerCase):
    def test_request_lines_are_recorded_raw(self):
        t0 = time.time()
        get(self.port, "/x?a=1&b=%20", b"X-Probe: yes\r\n")
        c = self.conn()
        c.request("POST", "/y", body=b"data")
        c.getresponse().read()
        reqs = self.srv.requests()
        self.assertEqual([(r["method"], r["path"], r["version"]) for r in reqs],
                         [("GET", "/x?a=1&b=%20", "HTTP/1.1"), ("POST", "/y", "HTTP/1.1")])
        self.assertEqual(reqs[0]["headers"]["X-Probe"], "yes")
        self.assertGreaterEqual(reqs[0]["time"], t0 - 1)
        self.srv.clear_requests()
        self.assertEqual(self.srv.requests(), [])

    def test_control_path_lists_requests_without_recording_itself(self):
        get(self.port, "/seen")
        data = self.fetch("/__control/requests")
        self.assertEqual([r["path"] for r in json.loads(data)], ["/seen"])
        self.assertEqual(len(self.srv.requests()), 1)

    def test_wait_for_returns_when_request_arrives_or_none_on_timeout(self):
        self.assertIsNone(self.srv.wait_for(lambda reqs: reqs, timeout=0.1))
        self.srv.add("/late", body=b"", delay=0)
        timer = threading.Timer(0.1, lambda: get(self.port, "/late"))
        timer.start()
        self.addCleanup(timer.join)
        found = self.srv.wait_for(
            lambda reqs: [r for r in reqs if r["path"] == "/late"], timeout=3)
        self.assertEqual(found[0]["method"], "GET")

    def test_concurrent_requests_are_all_recorded(self):
        self.srv.add("/p", body=b"ok", delay=0.05)
        with concurrent.futures.ThreadPoolExecutor(16) as pool:
            list(pool.map(lambda i: get(self.port, "/p?i=%d" % i), range(40)))
        self.assertEqual(sorted(r["path"] for r in self.srv.requests()),
                         sorted("/p?i=%d" % i for i in range(40)))


class ScriptMode(unittest.TestCase):
    def run_server(self, *args):
        proc = subprocess.Popen([sys.executable, os.path.join(HERE, "testserver.py"), *args],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (proc.poll() is None and proc.kill(), proc.wait(),
                                 proc.stdout.close(), proc.stderr.close()))
        return proc

    def test_routes_root_and_log(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.mkdir(os.path.join(tmp, "www"))
            with open(os.path.join(tmp, "www", "plain.txt"), "w") as f:
                f.write("from root")
            with open(os.path.join(tmp, "payload.bin"), "wb") as f:
                f.write(b"from file")
            routes = {"/r": {"body": "text route", "status": 201},
                      "/f?v=1": {"file": "payload.bin", "headers": {"X-K": "v"}}}
            with open(os.path.join(tmp, "routes.json"), "w") as f:
                json.dump(routes, f)
            log = os.path.join(tmp, "req.jsonl")
            proc = self.run_server("--port", "0", "--root", os.path.join(tmp, "www"),
                                   "--routes", os.path.join(tmp, "routes.json"), "--log", log)
            line = proc.stdout.readline()
            self.assertRegex(line, r"^listening on \d+\n$")
            base = "http://127.0.0.1:%d" % int(line.split()[-1])

            def fetch(path):
                with urllib.request.urlopen(base + path, timeout=3) as r:
                    return r.status, r.headers, r.read()

            self.assertEqual(fetch("/r")[::2], (201, b"text route"))
            _, headers, body = fetch("/f?v=1")
            self.assertEqual((body, headers["X-K"]), (b"from file", "v"))
            self.assertEqual(fetch("/plain.txt")[2], b"from root")

            listed = json.loads(fetch("/__control/requests")[2])
            self.assertEqual([r["path"] for r in listed], ["/r", "/f?v=1", "/plain.txt"])
            with open(log) as f:  # already flushed while the server runs
                logged = [json.loads(l) for l in f]
            self.assertEqual([r["path"] for r in logged], ["/r", "/f?v=1", "/plain.txt"])
            self.assertEqual(logged[0]["method"], "GET")

            proc.terminate()
            self.assertEqual(proc.wait(timeout=3), 0)

    def test_bad_routes_file_fails_clearly(self):
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            f.write('{"/x": {"status": 200, "bodyy": "typo"}}')
        self.addCleanup(os.remove, f.name)
        proc = self.run_server("--routes", f.name)
        self.assertEqual(proc.wait(timeout=3), 2)
        self.assertIn("bodyy", proc.stderr.read())
        self.assertEqual(proc.stdout.read(), "")


if __name__ == "__main__":
    unittest.main()
