"""The program as a player runs it, from start to the install prompt, against local
servers: the companion installer first and silently, the game files, and the reports,
stored by gdserver and read back from its figures."""
import hashlib
import os
import shutil
import time
import urllib.parse

import gdserver
import harness

TITLE = "Brenva网游戏下载器-%s专版"
STATS = "/stats/e2e.php"
COMPANION = "GardboxSetup.exe"
COMPANION_PATH = "/gardbox/" + COMPANION
DOWNLOAD_COMMAND = 10
QUIT_COMMAND = 2026
INSTALL_PROMPT = "DownloadFinished"


def md5_text(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def make_file(path, size, seed):
    pattern = hashlib.sha256(seed.encode()).digest()
    with open(path, "wb") as f:
        f.write((pattern * (size // len(pattern) + 1))[:size])


class EndToEndTest(harness.WineServerTestCase):
    arch = "win32"
    skin = None  # PNG bytes served as the skin picture, when set

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.www = os.path.join(cls.folder, "www")
        os.makedirs(os.path.join(cls.www, "gardbox"))
        shutil.copyfile(harness.exe("marker.exe", cls.arch), os.path.join(cls.www, "gardbox", COMPANION))
        cls.server.root = os.path.realpath(cls.www)
        cls.stats = gdserver.GdServer(os.path.join(cls.folder, "stats.sqlite"), os.path.join(cls.folder, "gdserver.log"),
                                      report_paths=[STATS])

    @classmethod
    def tearDownClass(cls):
        cls.stats.stop()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.procs = []
        self.save_dir = os.path.join(self.wine.prefix, "drive_c", "download")
        self.temp = self.wine.temp_dir()
        self.remove_companion()

    def tearDown(self):
        if any(p.poll() is None for p in self.procs):
            self.wine.kill_all()
        self.remove_companion()

    def remove_companion(self):
        for name in (COMPANION, COMPANION + ".ran"):
            path = os.path.join(self.temp, name)
            if os.path.exists(path):
                os.unlink(path)

    def game(self, key, name, files, companion_md5=None):
        """Serves a game of (file name, size) pairs; returns the branded program and the file paths."""
        folder = os.path.join(self.www, "games", key.strip("{}"))
        os.makedirs(folder, exist_ok=True)
        base = self.server.url("/games/%s/" % key.strip("{}"))
        paths = []
        for file_name, size in files:
            path = os.path.join(folder, file_name)
            make_file(path, size, key + file_name)
            paths.append(path)
            # A file of this name from an earlier run must not count as already complete.
            for suffix in ("", ".P2P"):
                if os.path.exists(os.path.join(self.save_dir, file_name + suffix)):
                    os.unlink(os.path.join(self.save_dir, file_name + suffix))
        resume = os.path.join(self.temp, key + ".tmp.cfg")
        if os.path.exists(resume):
            os.unlink(resume)
        lines = ["[GameConfig]", "GameName=" + name,
                 "GameSize=" + ",".join(str(s) for _, s in files),
                 "GameDownloadLink=" + ",".join(base + n for n, _ in files),
                 "GameMd5=" + ",".join(md5_text(p) for p in paths),
                 "GameStart=" + files[0][0],
                 "[DownLoader]", "NewVersion=1.1.0.1010",
                 "[Gardbox]", "safecheck=1",
                 "GardboxDownloaderLink=" + self.server.url(COMPANION_PATH),
                 "DomainName=" + self.report_url()]
        if companion_md5 is not None:
            lines.append("GardboxMd5=" + companion_md5)
        if self.skin is not None:
            self.server.add("/skin.png", body=self.skin)
            lines.insert(lines.index("[DownLoader]") + 1, "SkinLink=" + self.server.url("/skin.png"))
        self.server.add("/tool/muldown/%s.html" % key,
                        body=b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
        program = harness.branded_copy(harness.exe("GameDownloader.exe", self.arch),
                                       os.path.join(self.folder, self.arch, key.strip("{}")),
                                       game_key=key, server=self.server_base, wine=self.wine)
        return program, paths

    def start_and_download(self, program, key):
        proc = self.wine.start(program)
        self.procs.append(proc)
        code, _ = self.wine.driver("find", "--class", key, "--timeout", "30000")
        self.assertEqual(code, 0, "the download window")
        code, _ = self.wine.driver("command", "--class", key, "--id", str(DOWNLOAD_COMMAND), "--post")
        self.assertEqual(code, 0)
        return proc

    def wait_install_prompt(self, timeout=90):
        code, out = self.wine.driver("find", "--title", INSTALL_PROMPT, "--timeout", str(timeout * 1000),
                                     timeout=timeout + 30)
        self.assertEqual(code, 0, "the install prompt")

    def answer_install_prompt(self):
        # 关闭: the download window goes on to the end of its list.
        self.assertEqual(self.wine.driver("command", "--title", INSTALL_PROMPT, "--id", "101", "--post")[0], 0)
        code, _ = self.wine.driver("gone", "--title", INSTALL_PROMPT, "--timeout", "10000")
        self.assertEqual(code, 0)

    def quit(self, proc, key):
        self.wine.driver("command", "--class", key, "--id", str(QUIT_COMMAND), "--post")
        self.assertEqual(proc.wait(30), 0)

    def paths_requested(self, since=0):
        return [(urllib.parse.urlsplit(r["path"]).path, r) for r in self.server.requests() if r["time"] >= since]

    def report_url(self):
        """Where the configuration sends the reports: gdserver."""
        return self.stats.url(STATS)

    def reports(self, key):
        return self.stats.reports(key)

    def funnel(self, key):
        return self.stats.funnel(key)

    def assert_files_match(self, paths):
        for source in paths:
            target = os.path.join(self.save_dir, os.path.basename(source))
            self.assertTrue(os.path.exists(target), target)
            self.assertEqual(md5_text(target), md5_text(source), target)
            self.assertFalse(os.path.exists(target + ".P2P"))

    def test_companion_first_and_silently_then_the_game_with_its_reports(self):
        key = "{2AEDAB0F-E708-495A-EBEC-F708192A3B4C}"
        program, paths = self.game(key, "全程", [("setup.exe", 700 * 1024), ("data.pak", 3 * 1024 * 1024 + 17)])
        proc = self.start_and_download(program, key)
        self.wait_install_prompt()

        requested = [p for p, _ in self.paths_requested()]
        game = [i for i, p in enumerate(requested) if p.startswith("/games/")]
        companion = [i for i, p in enumerate(requested) if p == COMPANION_PATH]
        self.assertTrue(companion, "the companion installer was fetched")
        self.assertTrue(game)
        self.assertLess(max(companion), min(game), "the companion before any game file")

        marker = os.path.join(self.temp, COMPANION + ".ran")
        self.assertTrue(harness.wait_until(lambda: os.path.exists(marker), timeout=10), "the installer ran")
        with open(marker, "rb") as f:
            ran = f.read().decode("utf-16-le")
        self.assertIn("args=/S\r\n", ran)
        cwd = ran.split("cwd=", 1)[1].strip().rstrip("\\").lower()
        self.assertTrue(cwd.endswith("\\temp"), "started in the temporary folder: %s" % cwd)
        self.assert_files_match(paths)

        # The success is reported once the install prompt has been answered.
        self.answer_install_prompt()
        self.assertTrue(harness.wait_until(lambda: len(self.reports(key)) >= 3, 10), self.reports(key))
        actions = [(r["action"], r.get("tg"), r.get("cg")) for r in self.reports(key)]
        self.assertEqual(actions, [("1", None, None), ("2", "1", None), ("5", None, "1")])
        self.assertTrue(all(r["ver"] == "1.1.0.1010" for r in self.reports(key)))
        # One player through the whole funnel, counted by the machine identifier.
        mids = {r.get("mid") for r in self.reports(key)}
        self.assertEqual(len(mids), 1)
        self.assertRegex(mids.pop(), r"^[0-9a-f]{8,99}$")
        self.assertEqual(self.funnel(key), {"initial": 1, "start": 1, "complete": 1, "failed": 0})
        self.quit(proc, key)

    def test_companion_that_differs_from_its_digest_is_not_run(self):
        key = "{5D10DE32-1A3B-4C8D-1E1F-2A3B4C5D6E7F}"
        program, paths = self.game(key, "摘要", [("gamma.exe", 300 * 1024)], companion_md5="0" * 32)
        proc = self.start_and_download(program, key)
        self.wait_install_prompt()
        self.assertIn(COMPANION_PATH, [p for p, _ in self.paths_requested()])
        self.assertTrue(os.path.exists(os.path.join(self.temp, COMPANION)), "downloaded")
        time.sleep(3)
        self.assertFalse(os.path.exists(os.path.join(self.temp, COMPANION + ".ran")), "but never started")
        self.assert_files_match(paths)
        self.answer_install_prompt()
        self.quit(proc, key)

    def test_second_game_started_meanwhile_does_not_fetch_the_companion(self):
        first_key = "{3BFEBC10-F819-4A6B-FCFD-08192A3B4C5D}"
        second_key = "{4C0FCD21-092A-4B7C-0D0E-192A3B4C5D6E}"
        first, first_paths = self.game(first_key, "甲", [("alpha.exe", 400 * 1024)])
        second, second_paths = self.game(second_key, "乙", [("beta.exe", 500 * 1024)])
        first_proc = self.start_and_download(first, first_key)
        self.wait_install_prompt()
        self.answer_install_prompt()
        self.assertTrue(harness.wait_until(lambda: os.path.exists(os.path.join(self.temp, COMPANION + ".ran")), 10))

        # The first copy still runs and holds the companion mutex.
        self.assertIsNone(first_proc.poll())
        second_started = time.time()
        second_proc = self.start_and_download(second, second_key)
        self.assertTrue(self.server.wait_for(
            lambda reqs: any(r["path"].startswith("/games/%s/" % second_key.strip("{}")) for r in reqs), 30))
        self.wait_install_prompt()
        self.answer_install_prompt()
        later = [p for p, _ in self.paths_requested(second_started)]
        self.assertNotIn(COMPANION_PATH, later, "only the first copy fetches the companion")
        self.assert_files_match(first_paths + second_paths)
        self.assertTrue(harness.wait_until(lambda: any(r["action"] == "2" for r in self.reports(second_key)), 10))
        starts = [r for r in self.reports(second_key) if r["action"] == "2"]
        self.assertEqual([r.get("tg") for r in starts], ["1"], "the box was ticked in the second copy too")
        self.quit(second_proc, second_key)
        self.quit(first_proc, first_key)


if __name__ == "__main__":
    import unittest
    unittest.main()
