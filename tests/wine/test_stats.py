"""Milestone reports under Wine: the sender thread, reply files, machine identifier."""
import glob
import os
import re
import urllib.parse

import harness

KEY = "{B3D6F487-D091-42E3-F475-8091A2B3C4D5}"
PAGE = "/stats/s.php"


def parse(out):
    lines = {"queued": [], "mid": []}
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        lines.setdefault(word, []).append(rest)
    return lines


class StatsTest(harness.WineServerTestCase):
    arch = "win32"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.probe = harness.branded_copy(harness.exe("stats_probe.exe", cls.arch), os.path.join(cls.folder, cls.arch),
                                         game_key=KEY, server=cls.server_base, wine=cls.wine)
        cls.base = "http://127.0.0.1:%d%s" % (cls.server.port, PAGE)

    def setUp(self):
        super().setUp()
        self.server.add(PAGE, body=b"ok")

    def run_probe(self, *args):
        code, out = self.wine.run(self.probe, *args)
        self.assertEqual(code, 0, out)
        return parse(out)

    def report_args(self, action, event="", tg=0, cg=0, cwdm=0, base=None):
        return ["report", self.base if base is None else base, action, event, tg, cg, cwdm]

    def stats_requests(self):
        return [r for r in self.server.requests() if r["path"].startswith(PAGE)]

    def reply_files(self):
        return set(glob.glob(os.path.join(self.wine.temp_dir(), "*.ss")))

    def test_reports_arrive_in_queue_order_with_their_parameters(self):
        args = ["start"]
        args += self.report_args("1", "Initial")
        args += self.report_args("2", "StartDownload", tg=1)
        args += self.report_args("3", "PauseDownload")
        args += self.report_args("5", "CompleteDownload", cg=0, cwdm=2)
        args += self.report_args("5", "CompleteDownload", cg=1, cwdm=-1)
        args += ["sleep", "1500"]
        self.run_probe(*args)
        reqs = self.stats_requests()
        self.assertEqual(len(reqs), 5, reqs)
        queries = [urllib.parse.urlsplit(r["path"]).query for r in reqs]
        tail = "&game=%s&mid=" % KEY
        self.assertTrue(queries[0].startswith("action=1" + tail), queries[0])
        self.assertTrue(queries[1].startswith("action=2&tg=1" + tail), queries[1])
        self.assertTrue(queries[2].startswith("action=3" + tail), queries[2])
        self.assertTrue(queries[3].startswith("action=5&cg=0&cwdm=2" + tail), queries[3])
        self.assertTrue(queries[4].startswith("action=5&cg=1" + tail), queries[4])
        for q in queries:
            # The completions end with the sharing figures, 0 when nothing was shared.
            end = "&ver=1.1.0.1010" + ("&pb=0&ps=0" if q.startswith("action=5") else "")
            self.assertTrue(q.endswith(end), q)

    def test_mid_is_present_stable_and_the_identity_library_is_removed(self):
        first = self.run_probe("mid", "mid")["mid"]
        second = self.run_probe("mid")["mid"]
        self.assertEqual(len(first), 2)
        result, _, mid = first[0].partition(" ")
        self.assertEqual(result, "1")
        self.assertRegex(mid, r"^[0-9a-f]{8,99}$")
        self.assertEqual(first[1], first[0])
        self.assertEqual(second[0], first[0], "the same identifier in a new process")
        self.assertFalse(os.path.exists(os.path.join(self.wine.temp_dir(), KEY + "Tarnverify.dll")))
        self.run_probe("start", *self.report_args("4", "RestartDownload"), "sleep", "800")
        reqs = self.stats_requests()
        self.assertEqual(len(reqs), 1)
        self.assertIn("&mid=%s&ver=" % mid, reqs[0]["path"])

    def test_each_report_goes_out_promptly(self):
        # The sender is idle (waiting) when each report is queued.
        args = ["start", "sleep", "300"]
        for action in ("1", "3", "4"):
            args += self.report_args(action) + ["sleep", "400"]
        out = self.run_probe(*args)
        queued = [int(t) / 1000.0 for t in out["queued"]]
        reqs = self.stats_requests()
        self.assertEqual(len(reqs), 3)
        delays = [r["time"] - q for r, q in zip(reqs, queued)]
        print("report delays (s): %s" % ", ".join("%.3f" % d for d in delays))
        for d in delays:
            self.assertGreaterEqual(d, -0.05)
            self.assertLess(d, 0.35, delays)

    def test_reports_made_before_start_wait_for_it(self):
        out = self.run_probe(*self.report_args("1"), "sleep", "600", "start", "sleep", "600")
        reqs = self.stats_requests()
        self.assertEqual(len(reqs), 1)
        self.assertGreaterEqual(reqs[0]["time"] - int(out["queued"][0]) / 1000.0, 0.55)

    def test_only_the_first_of_two_reports_queued_together_keeps_its_reply(self):
        mid = self.run_probe("mid")["mid"][0].partition(" ")[2]
        first_path = "%s?action=1&game=%s&mid=%s&ver=1.1.0.1010" % (PAGE, KEY, mid)
        self.server.add(first_path, body=b"reply of the first report")
        self.server.add(PAGE, body=b"reply of another report")
        before = self.reply_files()
        self.run_probe(*self.report_args("1"), *self.report_args("3"), "start", "sleep", "800")
        self.assertEqual(len(self.stats_requests()), 2)
        new = self.reply_files() - before
        self.assertEqual(len(new), 1, new)
        path = new.pop()
        self.assertRegex(os.path.basename(path), r"^[0-9a-f]{8}\.ss$")
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b"reply of the first report")
        os.unlink(path)

    def test_a_failed_request_is_dropped_and_not_retried(self):
        # Nothing listens on port 1.
        dead = "http://127.0.0.1:1/stats/s.php"
        before = self.reply_files()
        self.run_probe("start", *self.report_args("1", base=dead), "sleep", "1500",
                       *self.report_args("3"), "sleep", "300", *self.report_args("4"), "sleep", "800")
        queries = [urllib.parse.urlsplit(r["path"]).query for r in self.stats_requests()]
        self.assertEqual([re.match(r"action=(\d)", q).group(1) for q in queries], ["3", "4"])
        for path in self.reply_files() - before:
            os.unlink(path)

    def test_a_reply_that_cannot_be_read_back_does_not_stop_the_sender(self):
        # An empty page name makes a URL without a host: it is queued and
        # tried, no reply file is ever written, and the reports after it
        # still go out.
        before = self.reply_files()
        self.run_probe("start", *self.report_args("1", base=""), "sleep", "500", *self.report_args("3"),
                       "sleep", "800")
        reqs = self.stats_requests()
        self.assertEqual(len(reqs), 1)
        self.assertTrue(urllib.parse.urlsplit(reqs[0]["path"]).query.startswith("action=3&"))
        for path in self.reply_files() - before:
            os.unlink(path)


class StatsTest64(StatsTest):
    arch = "win64"
