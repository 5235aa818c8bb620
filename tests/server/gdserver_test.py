#!/usr/bin/env python3
"""gdserver against its real database on loopback.

ctest runs it once per database: GDSERVER_DB=sqlite (a file in a temporary
folder) or postgresql (a cluster started here from Debian's package; the run
is skipped, exit 77, only when PostgreSQL cannot start). GDSERVER and
REPORT_URLS name the built server and the tool that prints the program's own
report URLs.
"""
import base64
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chromium  # noqa: E402
import gdserver_proc  # noqa: E402
import report_words  # noqa: E402

GDSERVER = os.environ.get("GDSERVER", "gdserver")
REPORT_URLS = os.environ.get("REPORT_URLS", "report_urls")
BACKEND = os.environ.get("GDSERVER_DB", "sqlite")
PG_BIN = "/usr/lib/postgresql/15/bin"
GAME = "{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}"
OTHER = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"
FUNNEL_COLOURS = [(0x3a, 0x63, 0xc9), (0x1f, 0x9e, 0x89), (0x4c, 0xaf, 0x3d), (0xd8, 0x43, 0x4e)]
# The fields every report may carry; the sharing figures (pb, ps) come after them.
FIELDS = report_words.FIELDS[:report_words.FIELDS.index("pb")]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Postgres:
    """A throw-away cluster; as root it runs as the unprivileged user nobody."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="gd-pg-")
        os.chmod(self.dir, 0o755)
        self.port = free_port()
        self.data = os.path.join(self.dir, "data")
        self.prefix = []
        if os.geteuid() == 0:
            shutil.chown(self.dir, "nobody", "nogroup")
            self.prefix = ["runuser", "-u", "nobody", "--"]

    def run(self, *args, **kw):
        return subprocess.run(self.prefix + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=120, cwd=self.dir, **kw)

    def start(self):
        init = self.run(PG_BIN + "/initdb", "-D", self.data, "-U", "gd", "--auth=trust", "-E", "UTF8", "--locale=C")
        if init.returncode != 0:
            return "initdb failed: " + init.stdout.decode(errors="replace")[-500:]
        failure = self.start_again()
        return "pg_ctl start failed: " + failure[-500:] if failure else None

    def start_again(self):
        start = self.run(PG_BIN + "/pg_ctl", "-D", self.data, "-l", os.path.join(self.dir, "log"), "-w", "-t", "60",
                         "-o", "-h 127.0.0.1 -p %d -k %s -c fsync=off" % (self.port, self.dir), "start")
        return None if start.returncode == 0 else start.stdout.decode(errors="replace")

    def stop(self):
        self.run(PG_BIN + "/pg_ctl", "-D", self.data, "-m", "immediate", "stop")
        shutil.rmtree(self.dir, ignore_errors=True)

    @property
    def url(self):
        return "postgresql://gd@127.0.0.1:%d/postgres" % self.port


class Database:
    """The server's database read directly, to see what was stored."""

    def __init__(self, where):
        self.where = where

    def rows(self, sql):
        if self.where.startswith("postgresql://"):
            out = subprocess.run([PG_BIN + "/psql", "-X", "-At", "-F", "\x1f", "-P", "null=\x1e", self.where, "-c", sql],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True, timeout=60)
            return [[None if c == "\x1e" else c for c in line.split("\x1f")]
                    for line in out.stdout.decode().split("\n") if line]
        import sqlite3
        with sqlite3.connect(self.where) as db:
            return [[None if c is None else str(c) for c in row] for row in db.execute(sql)]

    def execute(self, sql):
        if self.where.startswith("postgresql://"):
            subprocess.run([PG_BIN + "/psql", "-X", "-q", self.where, "-c", "SET client_min_messages = warning; " + sql],
                           check=True, timeout=60, stdout=subprocess.DEVNULL)
        else:
            import sqlite3
            with sqlite3.connect(self.where) as db:
                db.execute(sql)


class Server(gdserver_proc.GdserverProc):
    def __init__(self, db, folder, *extra, preexec_fn=None):
        fd, log = tempfile.mkstemp(prefix="gdserver-", suffix=".log", dir=folder)
        os.close(fd)
        super().__init__(GDSERVER, db, log, *extra, journal=os.path.join(folder, "incoming"), preexec_fn=preexec_fn)

    def get(self, target, raw=False, method="GET", headers=False, send=None, source="127.0.0.1"):
        """GET with the target sent exactly as given (no encoding), `send`'s
        headers, from the loopback address `source`."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20, source_address=(source, 0))
        try:
            if raw:
                conn.connect()
                conn.sock.sendall(b"GET " + target + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                data = b""
                while True:
                    piece = conn.sock.recv(65536)
                    if not piece:
                        break
                    data += piece
                status = int(data.split(b" ", 2)[1])
                return status, data.split(b"\r\n\r\n", 1)[1].decode(errors="replace")
            conn.putrequest(method, target, skip_accept_encoding=True)
            for name, value in (send or {}).items():
                conn.putheader(name, value)
            conn.endheaders()
            res = conn.getresponse()
            if headers:
                return res.status, res.read().decode("utf-8"), dict((k.lower(), v) for k, v in res.getheaders())
            return res.status, res.read().decode("utf-8")
        finally:
            conn.close()

    def json(self, target):
        status, body = self.get(target)
        assert status == 200, (target, status, body)
        return json.loads(body)


def program_urls(base, game, mid, ver="1.1.0.1010", pb=0, ps=0):
    out = subprocess.run([REPORT_URLS, base, game, mid, ver, str(pb), str(ps)], stdout=subprocess.PIPE, check=True)
    return out.stdout.decode("utf-8").splitlines()


def write_config(folder, game, name, sizes):
    """A configuration the program accepts, one file per size."""
    files = range(len(sizes))
    text = ("[GameConfig]\r\nGameName=%s\r\nGameSize=%s\r\nGameDownloadLink=%s\r\nGameMd5=%s\r\nGameStart=f0.bin\r\n"
            "[DownLoader]\r\nNewVersion=1.1.0.1010\r\n[Gardbox]\r\nDomainName=http://stats.example.invalid/s.php\r\n"
            % (name, ",".join(str(n) for n in sizes), ",".join("http://d.example.invalid/f%d.bin" % i for i in files),
               ",".join("0123456789abcdef0123456789abcdef" for _ in files)))
    with open(os.path.join(folder, game + ".html"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def fields_of(url):
    """The query's fields split the plain way, without decoding."""
    query = url.split("?", 1)[1]
    return dict(piece.split("=", 1) for piece in query.split("&"))


class GdserverTest(unittest.TestCase):
    pg = None

    @classmethod
    def setUpClass(cls):
        if BACKEND == "postgresql":
            cls.pg = Postgres()
            failure = cls.pg.start()
            if failure:
                cls.pg.stop()
                print("SKIPPED: PostgreSQL cannot start here: " + failure, file=sys.stderr)
                sys.exit(77)

    @classmethod
    def tearDownClass(cls):
        if cls.pg:
            cls.pg.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="gdserver-test-")
        if self.pg:
            # A fresh schema-less database each test: drop the table.
            self.db = self.pg.url
            Database(self.db).execute("DROP TABLE IF EXISTS reports; DROP TABLE IF EXISTS quarantine")
        else:
            self.db = os.path.join(self.tmp, "stats.sqlite")
        self.database = Database(self.db)
        self.servers = []

    def tearDown(self):
        for s in self.servers:
            if s.proc.poll() is None:
                s.stop(signal.SIGKILL)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, *extra, **kw):
        s = Server(self.db, self.tmp, *extra, **kw)
        self.servers.append(s)
        return s

    def stored(self, where="1=1"):
        # What a live server answered reaches the database shortly after.
        live = [s for s in self.servers if s.proc.poll() is None]
        deadline = time.time() + 30
        while live and time.time() < deadline:
            counts = live[-1].json("/api/server")
            if counts["stored"] + counts.get("quarantined", 0) >= counts["received"] - counts["unstored"]:
                break
            time.sleep(0.1)
        cols = ", ".join(FIELDS)
        return self.database.rows("SELECT %s, client, path, query, malformed FROM reports WHERE %s ORDER BY received"
                                  % (cols, where))

    def test_every_report_shape_is_stored_as_sent(self):
        server = self.start()
        base = "http://127.0.0.1:%d/s.php" % server.port
        # mid as the identity DLL makes it, and empty when it cannot be had.
        urls = program_urls(base, GAME, "5F3A9C21B0D4E6F7") + program_urls(base, GAME, "")
        for url in urls:
            target = url[len("http://127.0.0.1:%d" % server.port):]
            self.assertEqual(server.get(target), (200, "ok\n"), url)
        rows = self.stored()
        self.assertEqual(len(rows), len(urls))
        for url, row in zip(urls, rows):
            sent = fields_of(url)
            self.assertEqual(dict(zip(FIELDS, row[:len(FIELDS)])), {f: sent.get(f) for f in FIELDS}, url)
            self.assertEqual(row[len(FIELDS):], ["127.0.0.1", "/s.php", url.split("?", 1)[1], "0"])

    def test_malformed_queries_are_answered_counted_and_kept(self):
        server = self.start()
        cases = [  # raw target, status, stored as malformed
            (b"/s.php", 400, True),
            (b"/s.php?", 400, True),
            (b"/s.php?action=", 400, True),
            (b"/s.php?action=x1&game=g&mid=m&ver=v", 400, True),
            (b"/s.php?action=1&action=2&mid=m", 400, True),
            (b"/s.php?game&action=1", 400, True),
            (b"/s.php?action=1&mid=%ZZ%&ver=\xff\xfe&game=\xe6\x98\x9f", 200, False),
            (b"/s.php?action=99999999999", 400, True),
            (b"/s.php?action=1&unknown=7&&mid=m2", 400, True),
            (b"/s.php?action=1&mid=" + b"x" * 10000, 414, False),  # over the request-target limit: not kept
            (b"/s.php?action=1&ver=" + b"v" * 300 + b"&ver=1&mid=m4", 400, True),  # too long, then given again
            (b"/s.php?action=2&tg=1&mid=m3\x00x", None, None),
        ]
        for target, status, _ in cases:
            got, _body = server.get(target, raw=True)
            if status is not None:
                self.assertEqual(got, status, target[:80])
            else:
                self.assertTrue(400 <= got < 500 or got == 200, (target[:80], got))
        self.assertEqual(server.get("/api/funnel")[0], 200)  # still serving
        expected_bad = sum(1 for _, _, bad in cases if bad)
        stats = server.json("/api/figures")
        self.assertGreaterEqual(stats["malformed"], expected_bad)
        self.assertEqual(stats["malformed"], int(self.database.rows("SELECT COUNT(*) FROM reports WHERE malformed = 1")[0][0]))
        # Bytes that are not text are kept visibly, the UTF-8 game name as it came.
        row = self.stored("mid = '%ZZ%'")[0]
        self.assertEqual(row[4:7], ["星", "%ZZ%", "%FF%FE"])

    def test_funnel_counts_players(self):
        server = self.start()
        base = "http://127.0.0.1:%d/s.php" % server.port

        def send(game, mid, index):  # index into the program's event list
            url = program_urls(base, game, mid)[index]
            self.assertEqual(server.get(url[len(base) - len("/s.php"):])[0], 200)

        # Events by index: 0 Initial, 1/2 start, 3 pause, 4 restart,
        # 5 complete, 6/7/8 failed (cwdm 2/3/4), 9 set up again.
        players = {
            "p1": [0, 1, 5],           # finished
            "p2": [0, 2, 3, 4, 5, 5],  # paused, finished, reported twice
            "p3": [0, 1, 7],           # check failed
            "p4": [0, 1, 6, 1, 5],     # stalled, then finished on a second try
            "p5": [0, 0],              # only looked
            "": [0, 1, 5],             # no machine identifier: not counted
        }
        for mid, events in players.items():
            for e in events:
                send(GAME, mid, e)
        send(OTHER, "p1", 0)
        send(OTHER, "q1", 0)
        send(OTHER, "q1", 8)
        funnel = server.json("/api/funnel?game=" + urllib.parse.quote(GAME))
        self.assertEqual(funnel, {"initial": 5, "start": 4, "complete": 3, "failed": 2})
        # Across games the players of each game add up (p1 plays both).
        self.assertEqual(server.json("/api/funnel"), {"initial": 7, "start": 4, "complete": 3, "failed": 3})
        self.assertEqual(server.json("/api/funnel?game=%7Bnone%7D"), {"initial": 0, "start": 0, "complete": 0, "failed": 0})
        figures = server.json("/api/figures?game=" + urllib.parse.quote(GAME))
        self.assertEqual(sorted((f["cwdm"], f["count"]) for f in figures["failures"]), [(report_words.FAIL_STALLED, 1), (report_words.FAIL_CHECK, 1)])
        self.assertEqual(figures["versions"], [{"ver": "1.1.0.1010", "count": 5}])
        day = figures["days"][-1]
        self.assertEqual((day["started"], day["finished"], day["failed"]), (6, 5, 2))
        games = {g["game"]: g["reports"] for g in server.json("/api/games")}
        self.assertEqual(games, {GAME: 22, OTHER: 3})
        # The dashboard of one game and of all, with the funnel drawn.
        for target in ["/dashboard", "/dashboard?game=" + urllib.parse.quote(GAME)]:
            status, html = server.get(target)
            self.assertEqual(status, 200)
            self.assertEqual(html.count('class="funnel"'), 4, target)
            self.assertNotIn("<script", html)
        if BACKEND == "sqlite":
            self.check_screenshot(server)

    def check_screenshot(self, server):
        from PIL import Image
        shot = os.path.join(self.tmp, "dashboard.png")
        url = "http://127.0.0.1:%d/dashboard?game=%s" % (server.port, urllib.parse.quote(GAME))
        if not shutil.which("chromium"):
            self.fail("chromium is not installed (scripts/setup installs it)")
        self.assertTrue(chromium.screenshot(url, shot, 420, 900), "chromium saved no picture")
        if os.environ.get("GDSERVER_SHOT"):
            shutil.copy(shot, os.environ["GDSERVER_SHOT"])
        image = Image.open(shot).convert("RGB")
        counts = [0, 0, 0, 0]
        for pixel in image.getdata():
            if pixel in FUNNEL_COLOURS:
                counts[FUNNEL_COLOURS.index(pixel)] += 1
        # On a phone-sized window every bar is drawn, wider for more players.
        self.assertTrue(all(c > 200 for c in counts), counts)
        self.assertGreater(counts[0], counts[3])

    def test_seed_answers_from_the_mirrors_file(self):
        mirrors = os.path.join(self.tmp, "mirrors.txt")
        with open(mirrors, "w") as f:
            f.write("# publisher's mirrors\n"
                    "data1.pak http://m1.example.invalid/game/\n"
                    "data1.pak  https://m2.example.invalid/g   # no slash\n"
                    "0123456789ABCDEF0123456789abcdef http://m3.example.invalid/\n"
                    "broken-line-without-url\n"
                    "setup.exe ftp://not-http/\n"
                    "星海 http://m4.example.invalid/\n")
        server = self.start("--mirrors", mirrors)
        cases = [
            ("h1=00&name=data1.pak&size=5",
             "http://m1.example.invalid/game/data1.pak\nhttps://m2.example.invalid/g/data1.pak\n"),
            ("h1=0123456789abcdef0123456789ABCDEF&name=x.bin&size=1", "http://m3.example.invalid/x.bin\n"),
            ("h1=&name=setup.exe&size=1", ""),
            ("h1=1&name=..&size=1", ""),
            ("h1=1&name=a%2Fdata1.pak&size=1", ""),
            ("name=" + urllib.parse.quote("星海"), "http://m4.example.invalid/%E6%98%9F%E6%B5%B7\n"),
            ("", ""),
        ]
        for query, answer in cases:
            self.assertEqual(server.get("/seed?" + query), (200, answer), query)
        # The file is read again when it changes.
        time.sleep(0.02)
        with open(mirrors, "w") as f:
            f.write("data1.pak http://new.example.invalid/\n")
        self.assertEqual(server.get("/seed?h1=00&name=data1.pak&size=5"),
                         (200, "http://new.example.invalid/data1.pak\n"))
        os.remove(mirrors)
        self.assertEqual(server.get("/seed?h1=00&name=data1.pak&size=5"), (200, ""))

    def test_seed_names_players_sharing_the_file_and_old_queries_stay_as_they_were(self):
        mirrors = os.path.join(self.tmp, "mirrors.txt")
        with open(mirrors, "w") as f:
            f.write("data1.pak http://m1.example.invalid/game/\n")
        server = self.start("--mirrors", mirrors)
        sha = "ab" * 32
        old = "h1=00&name=data1.pak&size=5"
        mirror = "http://m1.example.invalid/game/data1.pak\n"
        cases = [
            (old + "&sha256=" + sha + "&port=7001", mirror),  # the first sharer hears of nobody
            (old + "&sha256=" + sha.upper() + "&port=7002", mirror + "peer 127.0.0.1:7001\n"),
            (old, mirror),  # an old engine's query: mirrors only, not kept
            (old + "&sha256=" + sha, mirror + "peer 127.0.0.1:7002\npeer 127.0.0.1:7001\n"),
            (old + "&sha256=" + sha + "&port=0", mirror + "peer 127.0.0.1:7002\npeer 127.0.0.1:7001\n"),
            (old + "&sha256=" + sha + "&port=99999", mirror + "peer 127.0.0.1:7002\npeer 127.0.0.1:7001\n"),
            (old + "&sha256=" + sha[:-1] + "&port=7003", mirror),
            ("sha256=" + "cd" * 32 + "&port=7004", ""),
        ]
        # Peers asking in the same millisecond may come in either order; the
        # order itself is the peer book's unit tests' business.
        for query, answer in cases:
            code, body = server.get("/seed?" + query)
            self.assertEqual((code, sorted(body.splitlines())), (200, sorted(answer.splitlines())), query)

    def test_behind_a_trusted_proxy_players_are_told_by_their_forwarded_address(self):
        server = self.start("--trust-proxy", "127.0.0.1")
        seed = "/seed?sha256=" + "ef" * 32 + "&port="
        both = ["peer 203.0.113.5:7001", "peer 203.0.113.6:7002"]
        cases = [
            # (X-Forwarded-For, from, port, answer); the proxy's own entry is the last
            ("198.51.100.7, 203.0.113.5", "127.0.0.1", 7001, []),
            ("203.0.113.6", "127.0.0.1", 7002, ["peer 203.0.113.5:7001"]),
            (None, "127.0.0.1", 7003, both),  # the proxy names nobody: answered, not kept
            ("unknown", "127.0.0.1", 7004, both),
            ("203.0.113.9", "127.0.0.2", 7005, both),  # not the proxy: its header is not believed
            ("203.0.113.7", "127.0.0.1", 0, both + ["peer 127.0.0.2:7005"]),
        ]
        for forwarded, source, port, answer in cases:
            code, body = server.get(seed + str(port), send={"X-Forwarded-For": forwarded} if forwarded else None,
                                    source=source)
            self.assertEqual((code, sorted(body.splitlines())), (200, sorted(answer)), (forwarded, source, port))
        self.assertEqual(server.get("/s.php?action=1", send={"X-Forwarded-For": "203.0.113.8"})[0], 200)
        self.assertEqual([r[-4] for r in self.stored()], ["203.0.113.8"])

    def burst(self, server, prefix, steps):
        """Eight senders, each report with its own mid, while `steps` run
        (callables, 0.6 s apart); returns the mids answered 200."""
        answered = []
        lock = threading.Lock()
        stop = threading.Event()

        def sender(n):
            conn = None
            i = 0
            while not stop.is_set():
                i += 1
                mid = "%s-%d-%d" % (prefix, n, i)
                try:
                    if conn is None:
                        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
                    conn.request("GET", "/s.php?action=1&game=%s&mid=%s&ver=1.1.0.1010" % (GAME, mid))
                    res = conn.getresponse()
                    res.read()
                    if res.status == 200:
                        with lock:
                            answered.append(mid)
                except (OSError, http.client.HTTPException):
                    if conn is not None:
                        conn.close()
                    conn = None
                    if server.proc.poll() is not None:
                        return

        threads = [threading.Thread(target=sender, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for step in steps:
            time.sleep(0.6)
            step()
        stop.set()
        for t in threads:
            t.join()
        return answered

    def hold_write_lock(self):
        """Blocks the server's commits, as a slow disk or another writer
        would; returns the function that lets them go."""
        if self.pg:
            psql = subprocess.Popen([PG_BIN + "/psql", "-X", "-q", self.db], stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL)
            psql.stdin.write(b"BEGIN; LOCK TABLE reports IN EXCLUSIVE MODE; SELECT 1;\n")
            psql.stdin.flush()
            time.sleep(0.3)

            def release():
                psql.stdin.write(b"COMMIT;\n")
                psql.stdin.close()
                psql.wait(timeout=30)
            return release
        import sqlite3
        db = sqlite3.connect(self.db, isolation_level=None, check_same_thread=False)
        db.execute("BEGIN IMMEDIATE")

        def release():
            db.execute("COMMIT")
            db.close()
        return release

    def test_no_answered_report_is_lost_on_kill_or_stop(self):
        # Reports arrive while the database is held: they are answered from
        # the journal, and whatever ends the server, each answered one is in
        # the database once it has stopped (SIGTERM) or started again (kill -9).
        for sig in (signal.SIGKILL, signal.SIGTERM):
            server = self.start()
            held = []
            steps = [lambda: held.append(self.hold_write_lock()),
                     lambda: server.proc.send_signal(sig),
                     lambda: held.pop()()]
            answered = self.burst(server, sig.name, steps)
            code = server.stop()
            self.assertGreater(len(answered), 50, sig.name)
            if sig == signal.SIGTERM:
                self.assertEqual(code, 0, server.text())
                self.assertIn("stopped:", server.text())
                stored = self.database.rows("SELECT mid FROM reports WHERE mid LIKE '%s-%%'" % sig.name)
            else:
                again = self.start()
                stored = self.stored("mid LIKE '%s-%%'" % sig.name)
                self.assertIn("received before the last stop", again.text())
                again.stop()
            mids = [r[0] if sig == signal.SIGTERM else r[5] for r in stored]
            missing = [m for m in answered if m not in set(mids)]
            self.assertEqual(missing, [], "%s: %d of %d answered reports lost" % (sig.name, len(missing), len(answered)))
            self.assertEqual(len(mids), len(set(mids)), "%s: a report was stored twice" % sig.name)

    def test_the_journal_recovers_from_a_torn_record_and_refuses_what_is_not_its_own(self):
        journal = os.path.join(self.tmp, "incoming")
        record = lambda ms, mid: "%d 10.0.0.9 /s.php?action=1&game=g&mid=%s&ver=1" % (ms, mid)
        whole = [record(1700000000000, "a"), record(1700000000001, "b x\ny")]
        with open(journal, "w") as f:
            f.write("gdserver journal 0123abcd 3\n")
            f.write("".join("%d:%s\n" % (len(r.encode()), r) for r in whole))
            f.write("52:1700000000002 10.0.0.9 /s.php?act")  # cut off by a crash
        server = self.start()
        self.assertEqual([(r[5], r[7]) for r in self.stored()], [("a", "10.0.0.9"), ("b x%0Ay", "10.0.0.9")])
        self.assertIn("torn by a crash", server.text())
        # A second server on the same journal, or a file that is not one, is refused.
        foreign = os.path.join(self.tmp, "notes.txt")
        with open(foreign, "w") as f:
            f.write("precious data\n")
        for path, message in ((journal, "in use by another gdserver"), (foreign, "not a gdserver journal")):
            proc = subprocess.run([GDSERVER, "--listen", "127.0.0.1:0", "--db", self.db, "--journal", path],
                                  stderr=subprocess.PIPE, timeout=30)
            self.assertEqual(proc.returncode, 1)
            self.assertIn(message, proc.stderr.decode())
        with open(foreign) as f:
            self.assertEqual(f.read(), "precious data\n")

    def test_a_table_of_the_first_version_gets_game_numbers(self):
        # Made before games had numbers: no game_no column, indexes on the key.
        self.database.execute("CREATE TABLE reports (received BIGINT NOT NULL, day INTEGER NOT NULL, client TEXT NOT NULL,"
                              " path TEXT NOT NULL, query TEXT NOT NULL, action TEXT, tg TEXT, cg TEXT, cwdm TEXT,"
                              " game TEXT, mid TEXT, ver TEXT, malformed INTEGER NOT NULL)")
        self.database.execute("CREATE INDEX reports_funnel ON reports (game, action, cg, mid)")
        for action in ("1", "2"):
            self.database.execute("INSERT INTO reports VALUES (1765000000000, 20428, '1.2.3.4', '/s.php', 'q', '%s',"
                                  " NULL, NULL, NULL, '%s', 'old', '1', 0)" % (action, GAME))
        server = self.start()
        self.assertEqual(server.get("/s.php?action=5&cg=1&game=%s&mid=old&ver=1" % GAME)[0], 200)
        funnel = server.json("/api/funnel?game=" + urllib.parse.quote(GAME))
        self.assertEqual(funnel, {"initial": 1, "start": 1, "complete": 1, "failed": 0})

    def test_an_emptied_journal_stores_every_report_once_across_kills(self):
        # A journal emptied every few hundred bytes, and kill -9 in between:
        # no report is lost or stored twice.
        sent = []
        for round_ in range(3):
            server = self.start("--journal-max-kib", "1")
            for i in range(60):
                mid = "r%d-%02d" % (round_, i)
                self.assertEqual(server.get("/s.php?action=2&game=g&mid=%s&ver=1" % mid)[0], 200)
                sent.append(mid)
            if round_ < 2:
                server.stop(signal.SIGKILL)
        mids = [r[5] for r in self.stored()]
        self.assertEqual(sorted(mids), sorted(sent))
        self.assertLess(os.path.getsize(os.path.join(self.tmp, "incoming")), 16 * 1024)

    def test_reports_sent_while_the_database_is_down_are_answered_and_stored_later(self):
        if not self.pg:
            self.skipTest("PostgreSQL only")
        server = self.start()
        self.assertEqual(server.get("/s.php?action=1&game=g&mid=before&ver=1")[0], 200)
        self.pg.run(PG_BIN + "/pg_ctl", "-D", self.pg.data, "-m", "fast", "-w", "stop")
        answers = [server.get("/s.php?action=1&game=g&mid=during%d&ver=1" % i)[0] for i in range(3)]
        self.assertEqual(answers, [200, 200, 200])
        self.assertIsNone(self.pg.start_again())
        self.assertEqual(sorted(r[5] for r in self.stored()), ["before", "during0", "during1", "during2"])

    def test_a_report_the_journal_cannot_take_is_answered_503_and_nothing_breaks(self):
        if not self.pg:
            self.skipTest("PostgreSQL only")  # the limit below would stop an SQLite file too
        import resource

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        server = self.start(preexec_fn=small_files)
        answers = [server.get("/s.php?action=1&game=g&mid=m%03d&ver=1" % i)[0] for i in range(80)]
        taken = answers.index(503)
        self.assertGreater(taken, 10)
        self.assertEqual(set(answers[taken:]), {503})
        self.assertEqual(server.json("/api/server")["unstored"], 80 - taken)
        self.assertEqual([r[5] for r in self.stored()], ["m%03d" % i for i in range(taken)])
        self.assertEqual(server.stop(), 0, server.text())

    def test_configurations_name_games_and_report_paths(self):
        configs = os.path.join(self.tmp, "configs")
        os.mkdir(configs)
        text = ("[GameConfig]\r\nGameName=星海传说\r\nGameSize=100\r\n"
                "GameDownloadLink=http://d.example.invalid/setup.exe\r\n"
                "GameMd5=0123456789abcdef0123456789abcdef\r\n[DownLoader]\r\nNewVersion=1.1.0.1010\r\n"
                "[Gardbox]\r\nDomainName=http://stats.example.invalid:8080/stat/r.php\r\n")
        with open(os.path.join(configs, GAME + ".html"), "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        server = self.start("--configs", configs)
        self.assertEqual(server.get("/stat/r.php?action=1&game=%s&mid=a&ver=1" % GAME), (200, "ok\n"))
        self.assertEqual(server.get("/s.php?action=1&game=%s&mid=b&ver=1" % GAME), (200, "ok\n"))
        self.assertEqual(server.get("/other.php?action=1&game=%s&mid=c&ver=1" % GAME)[0], 404)
        self.assertEqual(server.json("/api/games"), [{"game": GAME, "name": "星海传说", "reports": 2}])
        self.assertIn("星海传说", server.get("/dashboard?game=" + urllib.parse.quote(GAME))[1])

    def test_sharing_figures_of_finished_downloads(self):
        configs = os.path.join(self.tmp, "configs")
        os.mkdir(configs)
        write_config(configs, GAME, "星海传说", [600, 400])
        server = self.start("--configs", configs)
        base = "http://127.0.0.1:%d/s.php" % server.port
        finished, failed = 5, 8  # in the program's list of events

        def send(game, mid, event, pb, ps):
            url = program_urls(base, game, mid, pb=pb, ps=ps)[event]
            self.assertEqual(server.get(url[len(base) - len("/s.php"):]), (200, "ok\n"), url)
        send(GAME, "p1", finished, 300, 50)
        send(GAME, "p2", finished, 900, 0)
        send(GAME, "p3", failed, 500, 7)  # no finished download: not in the figures
        send(OTHER, "q1", finished, 70, 5)  # no configuration: no size, no share
        # An older downloader's report, without the two fields.
        old = "/s.php?action=5&cg=1&game=%s&mid=p4&ver=1.0.0.1" % GAME
        self.assertEqual(server.get(old), (200, "ok\n"))
        self.stored()
        rows = self.database.rows("SELECT mid, pb, ps, malformed, query FROM reports ORDER BY received")
        self.assertEqual([r[:4] for r in rows], [["p1", "300", "50", "0"], ["p2", "900", "0", "0"], ["p3", "500", "7", "0"],
                                                 ["q1", "70", "5", "0"], ["p4", None, None, "0"]])
        self.assertEqual(rows[4][4], old.split("?", 1)[1])
        date = time.strftime("%Y-%m-%d", time.gmtime())
        one = server.json("/api/figures?game=" + urllib.parse.quote(GAME))["sharing"]
        # Three finished downloads of 1000 bytes, 1200 of them from players.
        totals = {"finished": 3, "peerBytes": 1200, "servedBytes": 50, "deliveredBytes": 3000, "share": 0.4}
        self.assertEqual(one, dict(totals, days=[dict(totals, date=date, game=GAME)]))
        every = server.json("/api/figures")["sharing"]
        self.assertEqual({k: every[k] for k in totals},
                         {"finished": 4, "peerBytes": 1270, "servedBytes": 55, "deliveredBytes": 3000, "share": 0.4})
        self.assertEqual([(d["game"], d["share"]) for d in every["days"]], sorted([(GAME, 0.4), (OTHER, None)]))
        for target, shown in (("/dashboard?game=" + urllib.parse.quote(GAME), date), ("/dashboard", "星海传说")):
            status, html = server.get(target)
            self.assertEqual(status, 200, target)
            self.assertIn("40.0%", html, target)
            self.assertIn("1.2 KB came from other players", html, target)
            self.assertIn(shown, html.split("Bytes from other players")[1], target)
        # Values that are no byte count: kept in the raw query, flagged, not counted.
        # (The unit tests hold the full table of what is a byte count.)
        bad = [  # query, pb and ps stored
            ("pb=abc&ps=1", None, "1"),
            ("pb=1234567890123456&ps=1", None, "1"),  # 16 digits
            ("pb=1&ps=1e9", "1", None),
            ("pb=" + "9" * 300 + "&ps=1", None, "1"),
            ("pb=2&ps=1&pb=3", "2", "1"),  # given twice: the first counts
        ]
        targets = ["/s.php?action=5&cg=1&game=bad&mid=b%d&ver=1&%s" % (i, c[0]) for i, c in enumerate(bad)]
        self.assertEqual(self.send_all(server, targets), [400] * len(bad))
        self.assertEqual(self.send_all(server, ["/s.php?action=5&cg=1&game=bad&mid=top&ver=1&pb=999999999999999&ps=0"]),
                         [200])
        self.stored()
        got = self.database.rows("SELECT mid, pb, ps, malformed, query FROM reports WHERE game = 'bad' ORDER BY received")
        for (query, pb, ps), row in zip(bad, got):
            self.assertEqual(row[1:4], [pb, ps, "1"], query)
            self.assertIn(query, row[4], query)
        self.assertEqual(got[-1][:4], ["top", "999999999999999", "0", "0"])
        # Summed to the last byte, beyond the 15 digits of SQLite's text of a real.
        self.assertEqual(server.json("/api/figures?game=bad")["sharing"]["peerBytes"], 999999999999999 + 1 + 2)

    def test_a_table_made_before_the_sharing_figures_gets_them(self):
        server = self.start()
        self.assertEqual(server.get("/s.php?action=5&cg=1&game=g&mid=before&ver=1")[0], 200)
        self.stored()
        server.stop()
        self.database.execute("DROP INDEX reports_peers")
        if self.pg:
            self.database.execute("ALTER TABLE reports DROP COLUMN pb, DROP COLUMN ps")
        else:
            self.database.execute("ALTER TABLE reports DROP COLUMN pb")
            self.database.execute("ALTER TABLE reports DROP COLUMN ps")
        server = self.start()
        self.assertEqual(server.get("/s.php?action=5&cg=1&game=g&mid=after&ver=1&pb=10&ps=2")[0], 200)
        self.stored()
        self.assertEqual(self.database.rows("SELECT mid, pb, ps FROM reports ORDER BY received"),
                         [["before", None, None], ["after", "10", "2"]])
        self.assertEqual(server.json("/api/figures?game=g")["sharing"]["peerBytes"], 10)

    def test_retention_removes_old_reports(self):
        server = self.start()
        server.get("/s.php?action=1&game=g&mid=new&ver=1")
        server.stop()
        old = int(time.time() * 1000) - 3 * 86400000
        self.database.execute("INSERT INTO reports (received, day, client, path, query, action, mid, malformed)"
                              " VALUES (%d, %d, '1.2.3.4', '/s.php', 'action=1&mid=old', '1', 'old', 0)"
                              % (old, old // 86400000))
        server = self.start("--retention-days", "2")
        deadline = time.time() + 10
        while time.time() < deadline and len(self.stored()) != 1:
            time.sleep(0.1)
        self.assertEqual([r[5] for r in self.stored()], ["new"])

    def send_all(self, server, targets):
        """Sends each target on one kept-alive connection; returns the statuses."""
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
        statuses = []
        for target in targets:
            conn.request("GET", target)
            res = conn.getresponse()
            res.read()
            statuses.append(res.status)
        conn.close()
        return statuses

    def test_a_long_field_or_a_refused_row_does_not_stop_storing(self):
        # A field longer than any the program sends stays in the raw query
        # only; a row the database refuses (here a trigger) is set aside; the
        # reports after either are stored.
        server = self.start()
        if self.pg:
            self.database.execute(
                "CREATE OR REPLACE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                " IF NEW.mid = 'poison' THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END $$;"
                " CREATE TRIGGER refuse BEFORE INSERT ON reports FOR EACH ROW EXECUTE FUNCTION refuse()")
        else:
            self.database.execute("CREATE TRIGGER refuse BEFORE INSERT ON reports WHEN NEW.mid = 'poison'"
                                  " BEGIN SELECT RAISE(ABORT, 'refused'); END")
        # Text that does not compress: an index row cannot hold it.
        long_mid = base64.urlsafe_b64encode(os.urandom(3000)).decode()
        statuses = self.send_all(server, ["/s.php?action=1&game=g&mid=%s&ver=1" % long_mid,
                                          "/s.php?action=1&game=g&mid=after1&ver=1",
                                          "/s.php?action=1&game=g&mid=poison&ver=1",
                                          "/s.php?action=1&game=g&mid=after2&ver=1"])
        self.assertEqual(statuses, [400, 200, 200, 200])
        rows = self.stored()
        self.assertEqual([(r[5], r[10]) for r in rows], [(None, "1"), ("after1", "0"), ("after2", "0")])
        self.assertIn(long_mid, rows[0][9])
        self.assertEqual(server.json("/api/server")["quarantined"], 1)
        quarantined = self.database.rows("SELECT client, target, reason FROM quarantine")
        self.assertEqual(len(quarantined), 1, quarantined)
        self.assertEqual(quarantined[0][:2], ["127.0.0.1", "/s.php?action=1&game=g&mid=poison&ver=1"])
        self.assertIn("refused", quarantined[0][2])
        self.assertEqual(server.stop(), 0)

    def test_output_and_requests_stay_bounded(self):
        server = self.start()
        base = "/s.php?game=%s&ver=" % GAME
        targets = []
        for i in range(1000):
            junk = "%04d" % i + "z" * 150
            targets.append("/s.php?action=5&cg=0&cwdm=%s&game=%s&mid=f%d&ver=1" % (junk, GAME, i))
            targets.append("/s.php?action=1&game=%s&mid=v%d&ver=%s" % (GAME, i, junk))
        # The most used version carries characters that reorder text.
        bidi = "1.0\u202eevil\u200b"
        targets += ["/s.php?action=1&game=%s&mid=b%d&ver=%s" % (GAME, i, urllib.parse.quote(bidi)) for i in range(3)]
        self.assertEqual(set(self.send_all(server, targets[:-3])), {200})
        for i in range(3):  # raw UTF-8, as the program sends its fields
            status, _ = server.get(("/s.php?action=1&game=%s&mid=b%d&ver=" % (GAME, i)).encode() + bidi.encode(),
                                   raw=True)
            self.assertEqual(status, 200)
        figures = server.json("/api/figures?game=" + urllib.parse.quote(GAME))
        self.assertEqual(figures["failures"], [{"cwdm": "other", "count": 1000}])
        self.assertEqual(len(figures["versions"]), 12)
        self.assertEqual(figures["versions"][0], {"ver": bidi, "count": 3})
        for target in ("/dashboard", "/dashboard?game=" + urllib.parse.quote(GAME)):
            status, html = server.get(target)
            self.assertEqual(status, 200, target)
            self.assertLess(len(html), 40000, target)
            self.assertNotIn("\u202e", html, target)
            self.assertNotIn("\u200b", html, target)
        self.assertIn("[U+202E]", html)
        # A target far longer than any report is refused and not kept.
        received = server.json("/api/server")["received"]
        self.assertEqual(server.get(base + "x" * 20000)[0], 414)
        self.assertEqual(server.json("/api/server")["received"], received)

    def test_a_damaged_journal_loses_only_the_damaged_record_and_never_stores_twice(self):
        def whole(mid):
            r = b"1700000000000 10.0.0.9 /s.php?action=1&game=g&mid=" + mid + b"&ver=1"
            return b"%d:%s\n" % (len(r), r)
        cases = [  # the middle one of three records as damaged on disk
            ("length not a number", lambda r: b"6x" + r[2:]),
            ("length longer than the record", lambda r: b"9" + r[1:]),
            ("time not a number", lambda r: r.replace(b":1700", b":17x0")),
            ("length past the end of the file", lambda r: b"99999:" + r.split(b":", 1)[1]),
        ]
        path = os.path.join(self.tmp, "incoming")
        for n, (name, damage) in enumerate(cases):
            with open(path, "wb") as f:
                f.write(b"gdserver journal 00c0ffee%08d 1\n" % n)
                f.write(whole(b"a%d" % n) + damage(whole(b"b%d" % n)) + whole(b"c%d" % n))
            server = self.start()
            mids = [r[5] for r in self.stored("mid LIKE '_%d'" % n)]
            server.stop()
            self.assertEqual(mids, ["a%d" % n, "c%d" % n], name)
            self.assertIn("skipping", server.text(), name)
            os.remove(path)
        # A journal cut short of what the database took is not stored again.
        server = self.start()
        self.assertEqual(set(self.send_all(server, ["/s.php?action=1&game=g&mid=s%d&ver=1" % i for i in range(5)])), {200})
        self.stored()
        server.stop()
        path = os.path.join(self.tmp, "incoming")
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[:data.index(b"\n", data.index(b"mid=s1")) + 1])
        proc = subprocess.run([GDSERVER, "--listen", "127.0.0.1:0", "--db", self.db, "--journal", path],
                              stderr=subprocess.PIPE, timeout=30)
        self.assertEqual(proc.returncode, 1, proc.stderr.decode())
        self.assertIn("not storing it again", proc.stderr.decode())
        self.assertEqual(self.database.rows("SELECT COUNT(*) FROM reports WHERE mid LIKE 's%'"), [["5"]])

    def test_a_steady_stream_keeps_the_journal_small(self):
        # Emptied while reports keep coming, not only once they stop.
        server = self.start("--journal-max-kib", "2")
        sent, largest = [], 0
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
        deadline = time.time() + 5
        while time.time() < deadline:
            mid = "st%04d" % len(sent)
            conn.request("GET", "/s.php?action=1&game=g&mid=%s&ver=1" % mid)
            res = conn.getresponse()
            res.read()
            self.assertEqual(res.status, 200)
            sent.append(mid)
            largest = max(largest, os.path.getsize(os.path.join(self.tmp, "incoming")))
            time.sleep(0.005)
        conn.close()
        self.assertEqual(sorted(r[5] for r in self.stored()), sent)
        self.assertGreater(len(sent) * 60, 4 * 8192)
        self.assertLess(largest, 8192)

    def test_aborted_dashboard_requests_do_not_hold_up_the_next_query(self):
        # Enough reports that one page takes a noticeable time.
        server = self.start()
        server.stop()
        day = int(time.time()) // 86400
        if self.pg:
            self.database.execute("INSERT INTO reports (received, day, client, path, query, action, cg, mid, ver,"
                                  " malformed) SELECT %d, %d, '10.0.0.1', '/s.php', 'q', CAST(1 + i %% 2 AS TEXT), '1',"
                                  " 'm' || CAST(i AS TEXT), CAST(i %% 7 AS TEXT), 0 FROM generate_series(1, 300000) i;"
                                  " ANALYZE reports" % (day * 86400000, day))
        else:
            import sqlite3
            with sqlite3.connect(self.db) as db:
                db.executemany("INSERT INTO reports (received, day, client, path, query, action, cg, mid, ver, malformed)"
                               " VALUES (?, ?, '10.0.0.1', '/s.php', 'q', ?, '1', ?, ?, 0)",
                               ((day * 86400000, day, str(1 + i % 2), "m%d" % i, str(i % 7)) for i in range(300000)))
        server = self.start()
        started = time.time()
        self.assertEqual(server.get("/api/figures")[0], 200)
        one = time.time() - started
        for i in range(50):
            with socket.create_connection(("127.0.0.1", server.port)) as s:
                s.sendall(b"GET /dashboard?from=%d HTTP/1.1\r\nHost: x\r\n\r\n" % i)
        started = time.time()
        self.assertEqual(server.json("/api/funnel?game=g")["initial"], 0)
        waited = time.time() - started
        self.assertLess(waited, max(2.0, 3 * one), "one page %.2f s" % one)
        self.assertGreater(server.json("/api/server")["dropped"], 0)
        # Held up (here by reports that cannot be stored yet), the queue
        # fills, and what comes beyond it is answered 503 at once.
        release = self.hold_write_lock()
        try:
            self.assertEqual(server.get("/s.php?action=1&game=g&mid=held&ver=1")[0], 200)
            statuses = []
            threads = [threading.Thread(target=lambda i=i: statuses.append(server.get("/api/funnel?game=k%d" % i)[0]))
                       for i in range(90)]
            for t in threads:
                t.start()
            time.sleep(1)
        finally:
            release()
        for t in threads:
            t.join()
        self.assertEqual(len(statuses), 90)
        self.assertIn(503, statuses)
        self.assertEqual(set(statuses), {200, 503})

    def test_figures_count_each_player_once(self):
        server = self.start()
        statuses = self.send_all(server, [
            "/s.php?action=1&game=g&mid=p&ver=1", "/s.php?action=1&cg=1&game=g&mid=p&ver=1",
            "/s.php?action=2&cg=0&game=g&mid=p&ver=1", "/s.php?action=2&game=g&mid=p&ver=1",
            "/s.php?action=1&game=g&mid=&ver=1", "/s.php?action=1&game=g&mid=&ver=1",
            "/s.php?action=1&game=g&mid=&ver=2", "/s.php?action=2&game=g&mid=&ver=2"])
        self.assertEqual(set(statuses), {200})
        self.assertEqual(server.json("/api/funnel?game=g"), {"initial": 1, "start": 1, "complete": 0, "failed": 0})
        # Without a machine identifier: one player per address, version and day.
        self.assertEqual(server.json("/api/figures?game=g")["unidentified"],
                         {"initial": 2, "start": 1, "complete": 0, "failed": 0})

    def test_stop_is_quick_while_another_process_holds_the_database(self):
        server = self.start()
        release = self.hold_write_lock()
        try:
            self.assertEqual(server.get("/s.php?action=1&game=g&mid=held&ver=1")[0], 200)
            started = time.time()
            self.assertEqual(server.stop(), 0)
            self.assertLess(time.time() - started, 8)
        finally:
            release()
        again = self.start()
        self.assertEqual([r[5] for r in self.stored()], ["held"])
        self.assertEqual(again.stop(), 0)

    def test_out_of_file_descriptors_the_server_waits_instead_of_spinning(self):
        import resource

        def few_files():
            resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))
        server = self.start("--threads", "2", preexec_fn=few_files)
        conns = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(120)]
        time.sleep(0.5)

        def cpu():
            with open("/proc/%d/stat" % server.proc.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        before = cpu()
        time.sleep(2)
        used = cpu() - before
        for c in conns:
            c.close()
        self.assertLess(used, 0.5)
        self.assertEqual(server.get("/s.php?action=1&game=g&mid=after&ver=1")[0], 200)

    def test_small_things(self):
        configs = os.path.join(self.tmp, "configs")
        os.mkdir(configs)
        os.mkfifo(os.path.join(configs, GAME + ".html"))  # read by no one: must not hang the start
        server = self.start("--configs", configs)
        # A second server on the same port is refused.
        proc = subprocess.Popen([GDSERVER, "--listen", "127.0.0.1:%d" % server.port, "--db", self.db, "--journal",
                                 os.path.join(self.tmp, "second")], stderr=subprocess.PIPE)
        try:
            self.assertEqual(proc.wait(timeout=10), 1)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertIn("cannot listen", proc.stderr.read().decode())
        proc.stderr.close()
        # HEAD is no report; every answer says not to sniff.
        status, _, headers = server.get("/s.php?action=1&game=g&mid=head&ver=1", method="HEAD", headers=True)
        self.assertEqual(status, 405)
        self.assertEqual(headers.get("x-content-type-options"), "nosniff")
        # No game key and an empty one are one row; odd bytes in a looked-up key answer.
        self.assertEqual(set(self.send_all(server, ["/s.php?action=1&mid=a&ver=1", "/s.php?action=1&game=&mid=b&ver=1",
                                                    "/s.php?action=1&game=G&mid=c&ver=1"])), {200})
        self.assertEqual(sorted((g["game"], g["reports"]) for g in server.json("/api/games")), [("", 2), ("G", 1)])
        self.assertEqual(server.json("/api/funnel?game=G%00x")["initial"], 0)
        self.assertEqual(server.get("/api/funnel?game=%FF")[0], 200)
        self.assertEqual(server.get("/dashboard?game=%FF")[0], 200)
        # Seed queries are counted, not logged one by one.
        log_size = len(server.text())
        self.assertEqual(set(self.send_all(server, ["/seed?h1=00&name=" + "n" * 2000 for _ in range(100)])), {200})
        self.assertEqual(server.json("/api/server")["seed"], 100)
        self.assertLess(len(server.text()) - log_size, 2000)
        # SIGHUP stops the server as SIGTERM does.
        self.assertEqual(server.stop(signal.SIGHUP), 0)
        self.assertIn("stopped:", server.text())
        self.assertEqual(self.database.rows("SELECT COUNT(*) FROM reports WHERE mid = 'head'"), [["0"]])
        # A report path that would take over one of the server's pages is refused.
        for path in ("/dashboard", "/seed", "/api/funnel"):
            proc = subprocess.run([GDSERVER, "--listen", "127.0.0.1:0", "--db", self.db, "--journal",
                                   os.path.join(self.tmp, "third"), "--report-path", path],
                                  stderr=subprocess.PIPE, timeout=30)
            self.assertEqual(proc.returncode, 2, path)
            self.assertIn("one of the server's own pages", proc.stderr.decode(), path)

    def test_the_dashboard_can_have_an_address_of_its_own(self):
        port = free_port()
        server = self.start("--dashboard-listen", "127.0.0.1:%d" % port)
        self.assertEqual(server.get("/s.php?action=1&game=g&mid=a&ver=1")[0], 200)
        for target in ("/dashboard", "/api/funnel", "/api/server", "/"):
            self.assertEqual(server.get(target)[0], 404, target)
        public = server.port
        server.port = port
        self.assertEqual(server.json("/api/funnel?game=g")["initial"], 1)
        self.assertEqual(server.get("/dashboard")[0], 200)
        self.assertEqual(server.get("/s.php?action=1&game=g&mid=b&ver=1")[0], 404)
        self.assertEqual(server.get("/seed?name=x")[0], 404)
        server.port = public


if __name__ == "__main__":
    unittest.main(verbosity=2)
