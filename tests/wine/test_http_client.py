"""CHttpDownload over WinINet, under Wine, against the local test server."""
import os
import socket
import time
import unittest

import harness
from testserver import TestServer


def parse_probe(out):
    events, result, status = [], None, None
    for line in out.splitlines():
        parts = line.split()
        if parts[:1] == ["event"]:
            events.append(tuple(int(p) for p in parts[1:]))
        elif parts[:1] == ["result"]:
            result = int(parts[1])
        elif parts[:1] == ["status"]:
            status = int(parts[1])
    return events, result, status


class HttpClientTest(harness.WineServerTestCase):
    arch = "win32"

    def setUp(self):
        super().setUp()

    def probe(self, url, path, *extra):
        code, out = self.wine.run(harness.exe("http_probe.exe", self.arch), url,
                                  harness.winpath(path) if path else "-", *extra)
        self.assertEqual(code, 0, out)
        return parse_probe(out)

    def target(self, name):
        return os.path.join(self.folder, self.arch + "-" + name)

    def test_https_to_a_server_without_tls_fails_without_request(self):
        # Verified HTTPS itself is tested in test_https.py.
        path = self.target("https.bin")
        self.server.add("/secure", body=b"plain")
        events, result, _ = self.probe("https://localhost:%d/secure" % self.server.port, path)
        self.assertEqual(result, 0)
        self.assertNotIn((6, 0, 0), events)
        self.assertEqual(os.path.getsize(path), 0)
        self.assertEqual(self.server.requests(), [])

    def test_not_found_leaves_empty_file(self):
        path = self.target("missing.bin")
        events, result, status = self.probe(self.server.url("/nothing-here"), path)
        self.assertEqual((result, status), (0, 404))
        self.assertEqual(events, [(2, 0, 0)])
        self.assertEqual(os.path.getsize(path), 0)

    def test_body_with_length_raises_events_in_order(self):
        body = os.urandom(2500)
        self.server.add("/body2500", body=body)
        path = self.target("b2500.bin")
        events, result, status = self.probe(self.server.url("/body2500"), path)
        self.assertEqual((result, status), (1, 200))
        self.assertEqual(events, [(2, 0, 0), (4, 0, 0), (5, 1024, 2500), (6, 0, 0)])
        with open(path, "rb") as f:
            self.assertEqual(f.read(), body)

    def test_body_without_length_progress_after_blocks_one_and_eleven(self):
        body = os.urandom(10 * 1024 + 500)
        self.server.add("/nolength", body=body, content_length=False)
        path = self.target("nolength.bin")
        events, result, _ = self.probe(self.server.url("/nolength"), path)
        self.assertEqual(result, 1)
        self.assertEqual(events, [(2, 0, 0), (4, 0, 0), (5, 1024, 0), (5, len(body), 0), (6, 0, 0)])
        with open(path, "rb") as f:
            self.assertEqual(f.read(), body)

    def test_body_cut_short_of_its_length_fails(self):
        self.server.add("/cut", body=os.urandom(5000), truncate_at=1500)
        events, result, status = self.probe(self.server.url("/cut"), self.target("cut.bin"))
        self.assertEqual((result, status), (0, 200))
        self.assertEqual(events[-1], (6, 0, 0))

    def test_chunked_body_is_read_to_its_last_chunk(self):
        # Measured: Wine's WinINet ends a chunked body cut before its last chunk
        # like a whole one (InternetReadFile succeeds with 0 bytes), so only a
        # failing read fails such a body (tested natively) and the parse
        # decides about what arrived.
        body = os.urandom(6000)
        self.server.add("/chunked-whole", body=body, chunked=True, chunk_size=1000)
        path = self.target("chunked-whole.bin")
        _, result, _ = self.probe(self.server.url("/chunked-whole"), path)
        self.assertEqual(result, 1)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), body)

    def test_query_string_is_part_of_the_request(self):
        self.server.add("/stat", body=b"ok")
        _, result, _ = self.probe(self.server.url("/stat?action=Initial&key={AB}&v=1.1.0.1010"), None)
        self.assertEqual(result, 1)
        paths = [r["path"] for r in self.server.requests()]
        self.assertEqual(paths, ["/stat?action=Initial&key={AB}&v=1.1.0.1010"])
        request = self.server.requests()[0]
        self.assertEqual(request["method"], "GET")
        self.assertEqual(request["version"], "HTTP/1.1")
        self.assertEqual(request["headers"].get("User-Agent"), "Mozila/4.0 (compatible; MSIE 5.0; GARDBOX)")

    def test_other_statuses_fail(self):
        for status in (204, 206, 301, 500):
            self.server.add("/s%d" % status, body=b"x" if status != 204 else b"", status=status,
                            headers={"Location": "/elsewhere"} if status == 301 else None)
            _, result, got = self.probe(self.server.url("/s%d" % status), self.target("s.bin"))
            self.assertEqual(result, 0, status)

    def test_receive_timeout_ends_a_silent_server(self):
        self.server.add("/silent", body=b"late", delay=8)
        started = time.time()
        _, result, status = self.probe(self.server.url("/silent"), self.target("silent.bin"), "--timeout", "1500")
        self.assertEqual((result, status), (0, 0))
        self.assertLess(time.time() - started, 7)

    def test_url_without_port_uses_port_80(self):
        try:
            probe_socket = socket.socket()
            probe_socket.bind(("127.0.0.1", 80))
            probe_socket.close()
        except OSError:
            self.skipTest("port 80 is taken or not allowed here")
        server80 = TestServer(port=80)
        server80.start()
        try:
            server80.add("/p80", body=b"eighty")
            path = self.target("p80.bin")
            _, result, _ = self.probe("http://127.0.0.1/p80", path)
            self.assertEqual(result, 1)
            self.assertEqual([r["path"] for r in server80.requests()], ["/p80"])
            self.assertEqual(self.server.requests(), [])
        finally:
            server80.stop()


class HttpClientTest64(HttpClientTest):
    arch = "win64"


if __name__ == "__main__":
    unittest.main()
