"""The initialization window under Wine: fetch, hand-over, the two prompts, retry,
the Initial report, the desktop shortcut and the swallowed Enter and Escape keys."""
import os
import shutil
import subprocess
import time
import unittest
import urllib.parse

import harness
from testserver import TestServer

TITLE = "Brenva网游戏下载器-%s专版"
MAIN_CLASS = "GdMainDlg"
PROMPT_CLASS = "SomPromptDlg"
SHOTS = os.path.join(harness.BUILD, "wine-tests", "screens")
DOC_SHOTS = os.path.join(harness.ROOT, "docs", "screens")
STATS = "/stats/s.php"
WM_KEYDOWN, WM_CHAR, WM_NCHITTEST, WM_COMMAND = 0x100, 0x102, 0x84, 0x111
VK_RETURN, VK_ESCAPE = 13, 27
HTCLIENT, HTCAPTION = 1, 2


def config_text(name, links, sizes, new_version="1.1.0.1010", skin_link=None, domain=None):
    lines = ["[GameConfig]", "GameName=" + name, "GameSize=" + ",".join(str(s) for s in sizes),
             "GameDownloadLink=" + ",".join(links)]
    if len(links) > 1:
        lines.append("GameStart=" + links[0].rsplit("/", 1)[-1])
    lines += ["[DownLoader]", "NewVersion=" + new_version]
    if skin_link:
        lines.append("SkinLink=" + skin_link)
    lines.append("[Gardbox]")
    if domain:
        lines.append("DomainName=" + domain)
    return b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le")


def parse_window(line):
    hwnd, cls, title, visible, rect = line.split("\t")
    return {"hwnd": hwnd, "class": cls, "title": title, "visible": visible == "1",
            "rect": tuple(int(v) for v in rect.split(","))}


class MainWindowTest(harness.WineServerTestCase):
    arch = "win32"

    def setUp(self):
        super().setUp()
        self.started = []
        self.server.add(STATS, body=b"ok")
        self.stats_base = "http://127.0.0.1:%d%s" % (self.server.port, STATS)

    def tearDown(self):
        if any(p.poll() is None for p in self.started):
            self.wine.kill_all()

    # -- helpers ---------------------------------------------------------

    def copy_for(self, key, subfolder, server=None):
        return harness.branded_copy(harness.exe("GameDownloader.exe", self.arch),
                                    os.path.join(self.folder, self.arch, subfolder), game_key=key,
                                    server=server or self.server_base, wine=self.wine)

    def serve_config(self, key, body, **options):
        self.server.add("/tool/muldown/%s.html" % key, body=body, **options)

    def start(self, program):
        proc = self.wine.start(program)
        self.started.append(proc)
        return proc

    def windows(self):
        _, out = self.wine.driver("list")
        return [parse_window(line) for line in out.splitlines() if line.strip()]

    def visible(self, cls):
        return [w for w in self.windows() if w["class"] == cls and w["visible"]]

    def find(self, *selector, timeout=20000):
        code, out = self.wine.driver("find", *selector, "--timeout", str(timeout))
        return parse_window(out.strip()) if code == 0 else None

    def send(self, cls, msg, wparam=0, lparam=0, post=False):
        args = ["send", "--class", cls, "--msg", str(msg), "--wparam", str(wparam), "--lparam", str(lparam)]
        code, out = self.wine.driver(*(args + (["--post"] if post else [])))
        self.assertEqual(code, 0, "send %s to %s" % (msg, cls))
        return int(out.strip()) if out.strip() else None

    def press_enter_and_escape(self, cls):
        for key in (VK_RETURN, VK_ESCAPE):
            self.send(cls, WM_KEYDOWN, key, post=True)
            self.send(cls, WM_CHAR, key, post=True)
        time.sleep(0.4)

    def initial_reports(self, key):
        found = []
        for r in self.server.requests():
            url = urllib.parse.urlsplit(r["path"])
            query = urllib.parse.parse_qs(url.query)
            if url.path == STATS and query.get("action") == ["1"] and query.get("game") == [key]:
                found.append(query)
        return found

    def wait_initial_report(self, key, timeout=10):
        return self.server.wait_for(lambda reqs: self.initial_reports(key), timeout)

    def config_requests(self, key):
        return [r for r in self.server.requests() if r["path"] == "/tool/muldown/%s.html" % key]

    def expect_exit(self, proc, timeout=20):
        self.assertEqual(proc.wait(timeout), 0)

    # -- the tests ---------------------------------------------------------

    def test_fresh_start_shows_the_initialization_window_then_the_download_window(self):
        key = "{C4E7A598-E1A2-43F4-8586-91A2B3C4D5E6}"
        program = self.copy_for(key, "fresh")
        desktop = self.wine.desktop_dir()
        link = os.path.join(desktop, "GameDownloader.lnk")
        other = os.path.join(desktop, "我的下载器.lnk")
        with open(link, "wb") as f:
            f.write(b"not a shortcut")
        with open(other, "wb") as f:
            f.write(b"the player's own")
        cached = os.path.join(self.wine.temp_dir(), key + ".png")
        if os.path.exists(cached):
            os.unlink(cached)  # a picture younger than two days is not fetched again
        skin = os.path.join(self.folder, "skin.png")
        subprocess.run(["convert", "-size", "680x420", "xc:#204060", skin], check=True)
        self.server.add("/skin/bk.png", file=skin)
        self.serve_config(key, config_text("星海", ["http://h.invalid/g/setup.exe"], [1000],
                                           skin_link=self.server.url("/skin/bk.png"), domain=self.stats_base),
                          delay=2)
        proc = self.start(program)

        window = self.find("--class", MAIN_CLASS)
        self.assertIsNotNone(window)
        self.assertEqual(window["title"], TITLE % "", "titled before the configuration is read")
        window = harness.wait_until(lambda: (lambda w: w if w and w["rect"][0] else None)(
            self.find("--class", MAIN_CLASS, timeout=0)), timeout=5)
        self.assertEqual(window["rect"], ((1280 - 404) // 2, (800 - 201) // 2, 404, 201), "404 x 201, centred")
        self.assertEqual(self.send(MAIN_CLASS, WM_NCHITTEST, lparam=((299 + 40) << 16) | (438 + 30)), HTCAPTION,
                         "the body drags the window")
        self.assertEqual(self.send(MAIN_CLASS, WM_NCHITTEST, lparam=((299 + 22) << 16) | (438 + 374)), HTCLIENT,
                         "the close button does not")
        time.sleep(0.3)
        shot = os.path.join(SHOTS, "%s-init-window.png" % self.arch)
        self.assertTrue(self.display.screenshot(shot))
        self.check_init_window_pixels(shot, window["rect"])
        if os.environ.get("GD_UPDATE_SCREENS") == "1" and self.arch == "win32":
            subprocess.run(["convert", shot, "-crop", "404x201+%d+%d" % window["rect"][:2], "+repage",
                            os.path.join(DOC_SHOTS, "init-window.png")], check=True)

        dl = self.find("--class", key)
        self.assertIsNotNone(dl, "the download window, classed by the game key")
        self.assertEqual(dl["title"], TITLE % "星海")
        self.assertEqual(self.visible(MAIN_CLASS), [], "the initialization window is gone")
        self.assertEqual(self.visible(PROMPT_CLASS), [])
        self.assertTrue(self.wait_initial_report(key))
        self.assertEqual(len(self.initial_reports(key)), 1)
        self.assertEqual(len([r for r in self.server.requests() if r["path"] == "/skin/bk.png"]), 1)

        with open(link, "rb") as f:
            self.assertEqual(f.read(4), b"L\0\0\0", "the old file was replaced by a shortcut")
        with open(other, "rb") as f:
            self.assertEqual(f.read(), b"the player's own")
        os.unlink(other)
        self.wine.driver("command", "--class", key, "--id", "2026")  # the tray menu's 关闭
        self.expect_exit(proc)

    def check_init_window_pixels(self, shot, rect):
        x, y = rect[0], rect[1]

        def pixel(px, py):
            out = subprocess.run(["convert", shot, "-format", "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]",
                                  "-crop", "1x1+%d+%d" % (px, py), "+repage", "info:"],
                                 stdout=subprocess.PIPE).stdout.decode()
            return tuple(int(v) for v in out.split(","))

        self.assertEqual(pixel(x + 1, y + 1), (0, 0, 0), "the corner is cut away (the desktop shows)")
        band = pixel(x + 200, y + 8)
        body = pixel(x + 60, y + 150)
        self.assertLess(sum(band), 300, "a dark title band")
        self.assertGreater(sum(body), 600, "a light body")
        # "正在初始化..." is dark text on the light body at (162, 75).
        text = [pixel(x + 162 + dx, y + 75 + dy) for dx in range(0, 60, 3) for dy in range(2, 14, 2)]
        self.assertTrue(any(sum(p) < 350 for p in text), "the status text is drawn")

    def test_missing_skin_and_a_newer_build_number_still_open_the_download_window(self):
        key = "{D5F8B6A9-F2B3-4405-9697-A2B3C4D5E6F7}"
        program = self.copy_for(key, "noskin")
        self.server.add("/skin/missing.png", status=404)
        self.serve_config(key, config_text("无皮肤", ["http://h.invalid/g/a.bin", "http://h.invalid/g/b.bin"], [10, 20],
                                           new_version="1.1.0.1011", skin_link=self.server.url("/skin/missing.png"),
                                           domain=self.stats_base))
        proc = self.start(program)
        dl = self.find("--class", key)
        self.assertIsNotNone(dl, "1.1.0.1011 against our 1.1.0.1010 is not newer")
        self.assertEqual(dl["title"], TITLE % "无皮肤")
        self.assertTrue(self.wait_initial_report(key))
        self.wine.driver("command", "--class", key, "--id", "2026")  # the tray menu's 关闭
        self.expect_exit(proc)

    def test_newer_downloader_version_shows_the_older_version_prompt(self):
        key = "{E6A9C7BA-A3C4-4516-A7A8-B3C4D5E6F708}"
        program = self.copy_for(key, "older")
        self.serve_config(key, config_text("旧版", ["http://h.invalid/g/setup.exe"], [1000], new_version="1.2.0.1000",
                                           domain=self.stats_base))
        proc = self.start(program)
        prompt = self.find("--class", PROMPT_CLASS)
        self.assertIsNotNone(prompt)
        self.assertEqual(prompt["title"], TITLE % "旧版")
        self.assertEqual(prompt["rect"][2:], (404, 201))
        self.assertIsNone(self.find("--class", key, timeout=0), "no download window")
        self.assertEqual(self.visible(MAIN_CLASS), [])
        self.assertTrue(self.wait_initial_report(key))
        self.press_enter_and_escape(PROMPT_CLASS)
        self.assertIsNotNone(self.find("--class", PROMPT_CLASS, timeout=0), "Enter and Escape leave it open")
        self.assertIsNone(proc.poll())
        self.send(PROMPT_CLASS, WM_COMMAND, 100)  # the close cross ends the program
        self.expect_exit(proc)

    def test_first_link_without_file_name_fails_the_initialization(self):
        key = "{F7BAD8CB-B4D5-4627-B8B9-C4D5E6F70819}"
        program = self.copy_for(key, "slash")
        self.serve_config(key, config_text("斜杠", ["http://h.invalid/g/"], [1000], domain=self.stats_base))
        proc = self.start(program)
        prompt = self.find("--class", PROMPT_CLASS)
        self.assertIsNotNone(prompt, "the initialization-failed prompt")
        self.assertEqual(prompt["title"], TITLE % "斜杠")
        self.assertIsNone(self.find("--class", key, timeout=0))
        self.assertTrue(self.wait_initial_report(key), "reported although it failed")
        self.send(PROMPT_CLASS, WM_COMMAND, 101)  # 关闭 ends the program
        self.expect_exit(proc)

    def test_server_down_then_retry_until_it_answers(self):
        key = "{08CBE9DC-C5E6-4738-C9CA-D5E6F708192A}"
        # A port that nothing listens on yet.
        later = TestServer()
        later.start()
        port = later.port
        later.stop()
        program = self.copy_for(key, "retry", server="http://127.0.0.1:%d/tool/muldown/" % port)
        proc = self.start(program)
        prompt = self.find("--class", PROMPT_CLASS)
        self.assertIsNotNone(prompt, "the initialization-failed prompt")
        self.assertEqual(prompt["title"], TITLE % "")
        self.press_enter_and_escape(PROMPT_CLASS)
        self.assertEqual(len(self.visible(PROMPT_CLASS)), 1, "Enter and Escape leave the prompt alone")

        # 重试 while the server is still down: a new window, a new failure.
        self.send(PROMPT_CLASS, WM_COMMAND, 102)
        self.assertIsNone(proc.poll(), "重试 does not end the program")
        self.assertTrue(harness.wait_until(lambda: len(self.visible(PROMPT_CLASS)) == 1 and
                                           not self.visible(MAIN_CLASS), timeout=15))

        up = TestServer(port=port)
        up.start()
        self.addCleanup(up.stop)
        up.add(STATS, body=b"ok")
        domain = "http://127.0.0.1:%d%s" % (port, STATS)
        up.add("/tool/muldown/%s.html" % key,
               body=config_text("重试", ["http://h.invalid/g/setup.exe"], [5], domain=domain),
               delay=1.5)
        self.send(PROMPT_CLASS, WM_COMMAND, 102)
        self.assertTrue(harness.wait_until(lambda: len(self.visible(MAIN_CLASS)) == 1, timeout=10))
        time.sleep(0.5)
        mains = [w for w in self.windows() if w["class"] == MAIN_CLASS]
        self.assertEqual(len(mains), 1, "exactly one initialization window: %s" % mains)
        self.assertEqual(self.visible(PROMPT_CLASS), [], "the prompt is gone")
        self.assertEqual(mains[0]["rect"][2:], (404, 201))

        dl = self.find("--class", key)
        self.assertIsNotNone(dl)
        self.assertEqual(dl["title"], TITLE % "重试")
        requests = [r["path"] for r in up.requests()]
        self.assertEqual(requests.count("/tool/muldown/%s.html" % key), 1, "one worker: %s" % requests)
        self.assertTrue(up.wait_for(lambda reqs: any(r["path"].startswith(STATS + "?action=1&") for r in reqs), 10))
        self.assertEqual([w for w in self.windows() if w["class"] in (MAIN_CLASS, PROMPT_CLASS)], [])
        self.press_enter_and_escape(key)
        self.assertIsNotNone(self.find("--class", key, timeout=0), "Enter and Escape leave the download window")
        self.wine.driver("command", "--class", key, "--id", "2026")  # the tray menu's 关闭
        self.expect_exit(proc)

    def test_close_button_during_the_fetch_ends_the_program(self):
        key = "{19DCFAED-D6F7-4849-DADB-E6F708192A3B}"
        program = self.copy_for(key, "close")
        self.serve_config(key, config_text("关闭", ["http://h.invalid/g/setup.exe"], [5], domain=self.stats_base),
                          delay=3)
        proc = self.start(program)
        self.assertIsNotNone(self.find("--class", MAIN_CLASS))
        self.assertTrue(self.server.wait_for(lambda reqs: self.config_requests(key), 10))
        started = time.time()
        self.send(MAIN_CLASS, WM_COMMAND, 0)
        self.expect_exit(proc, timeout=15)
        self.assertLess(time.time() - started, 8)
        self.assertIsNone(self.find("--class", key, timeout=0))


class MainWindowSmoke64(MainWindowTest):
    """The 64-bit build: the fresh start only."""
    arch = "win64"


# Only the fresh start runs for the 64-bit build; the flow itself is the same code.
for _name in dir(MainWindowTest):
    if _name.startswith("test_") and not _name.startswith("test_fresh_start"):
        setattr(MainWindowSmoke64, _name, None)


if __name__ == "__main__":
    unittest.main()
