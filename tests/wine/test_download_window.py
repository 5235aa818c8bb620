"""The download window as a player uses it: the real program against local
configuration, download and statistics servers, the game files landing in
C:\\download\\ of the test prefix (the harness keeps the program off Z:).

GD_UPDATE_SCREENS=1 also copies the mode screenshots to docs/screens/.
"""
import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.parse

import harness

TITLE = "Brenva网游戏下载器-%s专版"
SCREENS = os.path.join(harness.BUILD, "wine-tests", "screens", "download")
DOCS_SCREENS = os.path.join(harness.ROOT, "docs", "screens")
WIDTH, HEIGHT = 679, 419

# One pixel of the action button (at 520, 319) where the five button images
# all differ: which one is drawn tells the window's mode.
MODE_PIXEL = (520 + 52, 319 + 24)
MODE_COLOURS = {0: (69, 142, 239), 1: (143, 187, 245), 2: (135, 147, 163), 3: (62, 183, 113), 4: (215, 231, 252)}
# The same for a prompt's action button (at 222, 158).
PROMPT_PIXEL = (222 + 42, 158 + 13)
PROMPT_BUTTONS = {"continue": (246, 250, 254), "feedback": (157, 196, 248), "download-again": (69, 143, 241),
                  "install": None}

PROMPT_CLOSE_LABEL = 101  # the prompt's 关闭 button
PROMPT_ACTION = 102       # its third button
WM_LBUTTONUP, WM_RBUTTONUP = 0x202, 0x205


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def nearest(colour, table):
    return min(table, key=lambda k: sum(abs(a - b) for a, b in zip(table[k], colour)) if table[k] else 1 << 30)


class DownloadWindowTest(harness.WineServerTestCase):
    arch = "win32"
    key = "{D1A7C3E5-0B2F-4C6D-8E9A-1B2C3D4E5F60}"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.program = harness.branded_copy(harness.exe("GameDownloader.exe", cls.arch),
                                           os.path.join(cls.folder, cls.arch), game_key=cls.key,
                                           server=cls.server_base, wine=cls.wine)
        cls.download_dir = os.path.join(cls.wine.prefix, "drive_c", "download")
        with open(harness.exe("marker.exe", "win32"), "rb") as f:
            cls.marker = f.read()

    def setUp(self):
        super().setUp()
        self.procs = []
        self.clean_disk()

    def tearDown(self):
        if any(p.poll() is None for p in self.procs):
            self.wine.kill_all()
        subprocess.run(["chattr", "-i", self.download_dir], stderr=subprocess.DEVNULL)
        self.clean_disk()

    def clean_disk(self):
        if os.path.isdir(self.download_dir):
            subprocess.run(["chattr", "-i", self.download_dir], stderr=subprocess.DEVNULL)
            shutil.rmtree(self.download_dir)
        temp = self.wine.temp_dir()
        for name in os.listdir(temp):
            if name.startswith(self.key):
                os.unlink(os.path.join(temp, name))

    # ---- the game on the server --------------------------------------------

    def serve_game(self, files, safecheck="1", game_start="", md5_override=None, skin=None, promotion=None,
                   companion=None):
        """files: [(name, bytes, route options)]; companion: (bytes, route options) of the
        companion installer, served at /c/gardbox_setup.exe."""
        base = "http://127.0.0.1:%d" % self.server.port
        sizes, links, md5s = [], [], []
        for i, (name, data, options) in enumerate(files):
            self.server.add("/g/" + name, body=data, **options)
            sizes.append(str(len(data)))
            links.append("%s/g/%s" % (base, name))
            md5s.append(md5_override[i] if md5_override else hashlib.md5(data).hexdigest())
        text = ("[GameConfig]\r\nGameName=幻想之城\r\nGameSize=%s\r\nGameDownloadLink=%s\r\nGameMd5=%s\r\n"
                "GameStart=%s\r\nGameVersion=1.0.3\r\n[DownLoader]\r\nNewVersion=1.1.0.1010\r\n"
                "[Gardbox]\r\nsafecheck=%s\r\nDomainName=%s/s.php\r\n"
                % (",".join(sizes), ",".join(links), ",".join(md5s), game_start, safecheck, base))
        if companion is not None:
            self.server.add("/c/gardbox_setup.exe", body=companion[0], **companion[1])
            text += "GardboxDownloaderLink=%s/c/gardbox_setup.exe\r\n" % base
        if promotion is not None:
            text = text.replace("[DownLoader]\r\n", "[DownLoader]\r\nTextPromotionLink=%s\r\n" % promotion)
        if skin is not None:
            self.server.add("/skin.png", body=skin)
            text = text.replace("[DownLoader]\r\n", "[DownLoader]\r\nSkinLink=%s/skin.png\r\n" % base)
        self.server.add("/tool/muldown/%s.html" % self.key, body=utf16(text))

    # ---- the program ---------------------------------------------------------

    def start_program(self):
        proc = self.wine.start(self.program)
        self.procs.append(proc)
        window = self.find(visible=True)
        self.assertIsNotNone(window, "the download window did not come up")
        return proc, window

    def find(self, visible=None, timeout=20):
        def look():
            code, out = self.wine.driver("find", "--class", self.key, "--timeout", "0")
            if code != 0:
                return None
            _, cls, title, shown, rect = out.strip().split("\t")
            window = {"title": title, "visible": shown == "1", "rect": tuple(int(v) for v in rect.split(","))}
            return window if visible is None or window["visible"] == visible else None
        return harness.wait_until(look, timeout, 0.2)

    def command(self, command_id, lparam=0):
        code, _ = self.wine.driver("command", "--class", self.key, "--id", str(command_id), "--lparam", str(lparam),
                                   "--post")
        self.assertEqual(0, code)

    def find_prompt(self, timeout=30):
        def look():
            code, out = self.wine.driver("find", "--class", "SomPromptDlg", "--timeout", "0")
            if code != 0:
                return None
            _, _, title, shown, rect = out.strip().split("\t")
            return {"title": title, "rect": tuple(int(v) for v in rect.split(","))} if shown == "1" else None
        return harness.wait_until(look, timeout, 0.2)

    def answer_prompt(self, button):
        code, _ = self.wine.driver("command", "--class", "SomPromptDlg", "--id", str(button), "--post")
        self.assertEqual(0, code)
        self.assertEqual(0, self.wine.driver("gone", "--class", "SomPromptDlg", "--timeout", "10000")[0])

    def screenshot(self, name):
        os.makedirs(SCREENS, exist_ok=True)
        path = os.path.join(SCREENS, "_screen.png")
        time.sleep(0.6)  # painting
        self.assertTrue(self.display.screenshot(path))
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, stdout=subprocess.PIPE,
                             timeout=30).stdout
        if name:
            window = self.find()
            x, y, cx, cy = window["rect"]
            out = os.path.join(SCREENS, name + ".png")
            subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (cx, cy, x, y), "+repage", out], check=True,
                           timeout=30)
            # Names starting with "_" are working shots, not pictures for the docs.
            if os.environ.get("GD_UPDATE_SCREENS") == "1" and not name.startswith("_"):
                os.makedirs(DOCS_SCREENS, exist_ok=True)
                shutil.copyfile(out, os.path.join(DOCS_SCREENS, name + ".png"))
        return lambda px, py: tuple(raw[(py * 1280 + px) * 3:(py * 1280 + px) * 3 + 3])

    def mode(self, shot_name=None):
        # A mouse over the button would show its hover picture.
        subprocess.run(["xdotool", "mousemove", "5", "795"], env=dict(os.environ, DISPLAY=self.display.name))
        window = self.find(visible=True)
        pixel = self.screenshot(shot_name)
        x, y = window["rect"][0] + MODE_PIXEL[0], window["rect"][1] + MODE_PIXEL[1]
        return nearest(pixel(x, y), MODE_COLOURS)

    def wait_mode(self, wanted, timeout=20, shot_name=None):
        seen = harness.wait_until(lambda: self.mode() == wanted, timeout, 0.5)
        if seen and shot_name:
            self.mode(shot_name)
        return self.mode() if not seen else wanted

    def prompt_button(self, prompt):
        pixel = self.screenshot(None)
        x, y = prompt["rect"][0] + PROMPT_PIXEL[0], prompt["rect"][1] + PROMPT_PIXEL[1]
        table = {k: v for k, v in PROMPT_BUTTONS.items() if v}
        return nearest(pixel(x, y), table)

    # ---- what the servers saw -------------------------------------------------

    def reports(self):
        out = []
        for r in self.server.requests():
            if r["path"].startswith("/s.php?"):
                out.append(dict(urllib.parse.parse_qsl(r["path"].split("?", 1)[1])))
        return out

    def downloads(self, name):
        return [r for r in self.server.requests() if r["path"] == "/g/" + name]

    def resume_path(self):
        return os.path.join(self.wine.temp_dir(), self.key + ".tmp.cfg")

    def resume_values(self):
        """The keys of the resume file's section, lower-cased."""
        if not os.path.exists(self.resume_path()):
            return {}
        with open(self.resume_path(), "rb") as f:
            data = f.read()
        text = data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode("latin-1")
        return {k.strip().lower(): v.strip() for k, _, v in
                (line.partition("=") for line in text.splitlines() if "=" in line)}

    def game_file(self, name):
        return os.path.join(self.download_dir, name)

    def wait_file(self, path, timeout=30, min_size=1):
        return harness.wait_until(lambda: os.path.exists(path) and os.path.getsize(path) >= min_size, timeout, 0.2)

    # The notification menu's items, all of one height, top to bottom.
    TRAY_ITEMS = ("打开下载器", "与其他玩家共享下载", "全屏游戏时让出网速", "下载限速", "关闭")
    # The speed caps' submenu, top to bottom.
    CAP_ITEMS = ("不限速", "512KB/s", "1MB/s", "2MB/s", "5MB/s")

    def click_tray_item(self, text, cap=None):
        """Hides the window to the notification area and picks an item of its
        menu; with `cap`, that item of the speed caps' submenu."""
        self.command(13)
        self.assertIsNotNone(self.find(visible=False))
        code, _ = self.wine.driver("message", "--class", self.key, "--msg", "2025", "--wparam", "32513",
                                   "--lparam", str(WM_RBUTTONUP))
        self.assertEqual(0, code)
        code, out = self.wine.driver("menu", "--timeout", "10000")
        self.assertEqual(0, code, out)
        x, y, cx, cy = (int(v) for v in out.split())
        index, count = self.TRAY_ITEMS.index(text), len(self.TRAY_ITEMS)
        env = dict(os.environ, DISPLAY=self.display.name)
        subprocess.run(["xdotool", "mousemove", str(x + cx // 2), str(y + cy * (2 * index + 1) // (2 * count))],
                       env=env, check=True)
        time.sleep(0.3)
        if cap is not None:
            code, out = self.wine.driver("menus", "--timeout", "10000")
            self.assertEqual(0, code, out)
            rects = [tuple(int(v) for v in line.split()) for line in out.split("\n") if line.strip()]
            x, y, cx, cy = next(r for r in rects if r != (x, y, cx, cy))
            index, count = self.CAP_ITEMS.index(cap), len(self.CAP_ITEMS)
            # Across first, then down: the way down would cross the main menu's items.
            subprocess.run(["xdotool", "mousemove", str(x + cx // 2), str(y + cy // (2 * count))], env=env, check=True)
            time.sleep(0.2)
            subprocess.run(["xdotool", "mousemove", str(x + cx // 2), str(y + cy * (2 * index + 1) // (2 * count))],
                           env=env, check=True)
            time.sleep(0.3)
        subprocess.run(["xdotool", "click", "1"], env=env, check=True)

    def close_program(self, proc):
        """Ends the program the way a player does: the notification menu's 关闭."""
        self.click_tray_item("关闭")
        self.assertEqual(0, proc.wait(20))


class DownloadFlowTest(DownloadWindowTest):
    """The long flows, on the shipping (32-bit) build."""

    def test_one_file_game_verifies_and_its_installer_runs(self):
        self.serve_game([("marker.exe", self.marker, {})])
        proc, window = self.start_program()
        self.assertEqual(TITLE % "幻想之城", window["title"])
        self.assertEqual((WIDTH, HEIGHT), window["rect"][2:])
        self.assertEqual(0, self.mode("download-mode-0"))
        self.command(10)
        prompt = self.find_prompt()
        self.assertIsNotNone(prompt, "no install prompt")
        self.assertEqual("DownloadFinished", prompt["title"])
        self.assertEqual(3, self.mode("download-install-prompt"))
        with open(self.game_file("marker.exe"), "rb") as f:
            self.assertEqual(self.marker, f.read())
        self.assertFalse(os.path.exists(self.game_file("marker.exe.P2P")))
        self.answer_prompt(PROMPT_ACTION)
        ran = self.game_file("marker.exe.ran")
        self.assertTrue(self.wait_file(ran), "the installer did not run")
        actions = [r["action"] for r in self.reports()]
        self.assertEqual(1, actions.count("2"), actions)
        done = [r for r in self.reports() if r["action"] == "5"]
        self.assertEqual(1, len(done), self.reports())
        self.assertNotIn("cwdm", done[0])
        self.close_program(proc)

    def test_quit_from_the_tray_while_the_install_prompt_is_open_ends_the_process(self):
        self.serve_game([("game.exe", os.urandom(3000), {})])
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt()
        self.assertIsNotNone(prompt, "no install prompt")
        self.assertEqual("DownloadFinished", prompt["title"])
        self.command(2026)
        self.assertEqual(0, proc.wait(20))

    def test_three_files_run_one_after_another_and_install_runs_game_start(self):
        files = [("data1.bin", os.urandom(200000), {}), ("data2.bin", os.urandom(300000), {}),
                 ("marker.exe", self.marker, {})]
        self.serve_game(files, game_start="marker.exe")
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt(60)
        self.assertIsNotNone(prompt)
        self.assertEqual("DownloadFinished", prompt["title"])
        for name, data, _ in files:
            with open(self.game_file(name), "rb") as f:
                self.assertEqual(data, f.read(), name)
            self.assertGreaterEqual(len(self.downloads(name)), 1, name)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.assertFalse(os.path.exists(self.game_file("marker.exe.ran")))
        self.assertEqual(3, self.mode("download-mode-3"))
        self.command(18)
        self.assertTrue(self.wait_file(self.game_file("marker.exe.ran")), "GameStart did not run")
        actions = [r["action"] for r in self.reports()]
        self.assertEqual(1, actions.count("2"), "StartDownload once: %r" % actions)
        self.assertEqual(1, actions.count("5"), actions)
        self.close_program(proc)

    def test_size_mismatch_shows_the_file_check_prompt(self):
        data = os.urandom(150000)
        self.serve_game([("game.exe", data, {})])
        # The listed size is one byte short of what arrives.
        text = self.server._route_for("/tool/muldown/%s.html" % self.key).body.decode("utf-16")
        self.server.add("/tool/muldown/%s.html" % self.key,
                        body=utf16(text.replace("GameSize=%d" % len(data), "GameSize=%d" % (len(data) - 1))))
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt()
        self.assertIsNotNone(prompt)
        self.assertEqual("", prompt["title"])
        self.assertEqual("continue", self.prompt_button(prompt))
        failed = harness.wait_until(lambda: [r for r in self.reports() if r["action"] == "5"], 10)
        self.assertEqual("3", failed[0].get("cwdm"), failed)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.assertEqual(3, self.mode())
        self.close_program(proc)

    def test_md5_mismatch_fails_the_download_with_reason_three(self):
        self.serve_game([("game.exe", os.urandom(150000), {})], md5_override=["0" * 32])
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt()
        self.assertIsNotNone(prompt)
        self.assertNotEqual("DownloadFinished", prompt["title"])
        # The engine checks the MD5 text itself before the rename and fails the
        # task: the download-failed prompt, whose third button is feedback.
        self.assertEqual("feedback", self.prompt_button(prompt))
        failed = harness.wait_until(lambda: [r for r in self.reports() if r["action"] == "5"], 10)
        self.assertEqual("3", failed[0].get("cwdm"), failed)
        self.assertFalse(os.path.exists(self.game_file("game.exe")), "a damaged file was kept as the game file")
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_missing_file_fails_with_reason_four_and_offers_a_new_start(self):
        self.serve_game([("game.exe", os.urandom(1000), {"status": 404})])
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt(60)
        self.assertIsNotNone(prompt)
        self.assertEqual("feedback", self.prompt_button(prompt))
        failed = harness.wait_until(lambda: [r for r in self.reports() if r["action"] == "5"], 10)
        self.assertEqual("4", failed[0].get("cwdm"), failed)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.assertEqual(4, self.mode("download-mode-4"))
        self.close_program(proc)

    def test_pause_and_continue(self):
        data = os.urandom(3 << 20)
        slow = {"chunk_size": 16384, "chunk_delay": 0.05}
        self.serve_game([("game.exe", data, slow)])
        proc, _ = self.start_program()
        self.command(10)
        partial = self.game_file("game.exe.P2P")
        self.assertTrue(self.wait_file(partial))
        self.assertEqual(2, self.wait_mode(2, shot_name="download-mode-2"))
        self.command(12)
        self.assertEqual(1, self.wait_mode(1, shot_name="download-mode-1"))
        self.assertTrue(harness.wait_until(lambda: "3" in [r["action"] for r in self.reports()], 10))
        requests = len(self.downloads("game.exe"))
        time.sleep(2)
        self.assertFalse(os.path.exists(self.game_file("game.exe")))
        self.server.add("/g/game.exe", body=data)  # full speed from here on
        self.command(11)
        self.assertIsNotNone(self.find_prompt(60), "no install prompt after continuing")
        self.assertGreater(len(self.downloads("game.exe")), requests, "continue fetched nothing")
        with open(self.game_file("game.exe"), "rb") as f:
            self.assertEqual(data, f.read())
        self.assertIn("4", [r["action"] for r in self.reports()])
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_killed_mid_download_resumes_in_the_next_run(self):
        data = os.urandom(3 << 20)
        self.serve_game([("game.exe", data, {"chunk_size": 16384, "chunk_delay": 0.05})])
        self.start_program()
        self.command(10)
        partial = self.game_file("game.exe.P2P")
        self.assertTrue(self.wait_file(partial))
        time.sleep(2)
        self.wine.kill_all()
        self.assertFalse(os.path.exists(self.game_file("game.exe")))
        self.server.add("/g/game.exe", body=data)
        self.server.clear_requests()
        proc, _ = self.start_program()
        self.assertEqual(1, self.wait_mode(1), "a partial download opens paused")
        self.command(11)
        self.assertIsNotNone(self.find_prompt(60), "no install prompt after continuing")
        with open(self.game_file("game.exe"), "rb") as f:
            self.assertEqual(data, f.read())
        # The second run asked only for what was missing.
        ranges = [(r["method"], r["headers"].get("Range", "")) for r in self.downloads("game.exe")]
        self.assertTrue(any(r.startswith("bytes=") and not r.startswith("bytes=0-") for _, r in ranges), ranges)
        self.assertFalse(any(r.startswith("bytes=0-") for _, r in ranges), ranges)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_some_files_done_open_paused_then_finished_opens_ready_to_install(self):
        files = [("data1.bin", os.urandom(200000), {}), ("data2.bin", os.urandom(100000), {}),
                 ("marker.exe", self.marker, {})]
        self.serve_game(files, game_start="marker.exe")
        os.makedirs(self.download_dir)
        with open(self.game_file("data1.bin"), "wb") as f:
            f.write(files[0][1])
        with open(self.resume_path(), "wb") as f:
            f.write(utf16("[Wavepull]\r\nDir=C:\\download\\\r\nDlGD=0\r\n"))
        proc, _ = self.start_program()
        self.assertEqual(1, self.wait_mode(1), "files still to fetch: continue")
        self.command(11)
        self.assertIsNotNone(self.find_prompt(60), "no install prompt after continuing")
        self.assertEqual([], self.downloads("data1.bin"), "a finished file was fetched again")
        for name, data, _ in files:
            with open(self.game_file(name), "rb") as f:
                self.assertEqual(data, f.read(), name)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)
        proc, _ = self.start_program()
        self.assertEqual(3, self.wait_mode(3), "everything there: install")
        self.command(18)
        self.assertTrue(self.wait_file(self.game_file("marker.exe.ran")))
        self.close_program(proc)

    def test_close_hides_in_the_tray_and_a_second_start_shows_it(self):
        self.serve_game([("game.exe", os.urandom(1000), {})])
        proc, _ = self.start_program()
        self.command(13)
        self.assertIsNotNone(self.find(visible=False), "close did not hide the window")
        self.assertIsNone(proc.poll())
        second = self.wine.start(self.program)
        self.assertEqual(0, second.wait(30))
        self.assertIsNotNone(self.find(visible=True), "the second start did not bring the window back")
        # A left click on the notification icon shows it too.
        self.command(13)
        self.assertIsNotNone(self.find(visible=False))
        self.wine.driver("message", "--class", self.key, "--msg", "2025", "--wparam", "32513",
                         "--lparam", str(WM_LBUTTONUP))
        self.assertIsNotNone(self.find(visible=True))
        self.close_program(proc)

    def test_sharing_chosen_in_the_tray_menu_is_remembered_across_runs(self):
        self.serve_game([("game.exe", os.urandom(1000), {})])
        proc, _ = self.start_program()
        self.assertTrue(harness.wait_until(lambda: os.path.exists(self.resume_path()), 10))
        self.assertNotIn("peersharing", self.resume_values())
        self.click_tray_item("与其他玩家共享下载")
        self.assertTrue(harness.wait_until(lambda: self.resume_values().get("peersharing") == "0", 10),
                        self.resume_values())
        self.click_tray_item("全屏游戏时让出网速")
        self.assertTrue(harness.wait_until(lambda: self.resume_values().get("stepaside") == "0", 10),
                        self.resume_values())
        self.close_program(proc)
        # Nothing was downloaded: the next start begins afresh and keeps the choice.
        proc, _ = self.start_program()
        time.sleep(1)
        self.assertEqual(self.resume_values().get("peersharing"), "0")
        self.click_tray_item("与其他玩家共享下载")
        self.assertTrue(harness.wait_until(lambda: self.resume_values().get("peersharing") == "1", 10))
        self.close_program(proc)

    def test_a_speed_cap_chosen_in_the_tray_menu_is_remembered_across_runs(self):
        self.serve_game([("game.exe", os.urandom(1000), {})])
        proc, _ = self.start_program()
        self.assertTrue(harness.wait_until(lambda: os.path.exists(self.resume_path()), 10))
        self.assertNotIn("speedcap", self.resume_values())
        self.click_tray_item("下载限速", cap="1MB/s")
        self.assertTrue(harness.wait_until(lambda: self.resume_values().get("speedcap") == "1048576", 10),
                        self.resume_values())
        self.close_program(proc)
        proc, _ = self.start_program()
        time.sleep(1)
        self.assertEqual(self.resume_values().get("speedcap"), "1048576")
        self.click_tray_item("下载限速", cap="不限速")
        self.assertTrue(harness.wait_until(lambda: self.resume_values().get("speedcap") == "0", 10))
        self.close_program(proc)

    def test_feedback_and_promotion_open_their_pages_and_minimize_iconifies(self):
        promotion = "http://127.0.0.1:%d/promo?a=1&b=2" % self.server.port
        self.serve_game([("game.exe", os.urandom(1000), {})], promotion=promotion)
        before = len(self.wine.opened_pages())
        proc, _ = self.start_program()
        self.command(17)
        self.command(19)
        opened = harness.wait_until(lambda: self.wine.opened_pages()[before:] if len(
            self.wine.opened_pages()) >= before + 2 else None, 30)
        self.assertEqual(["http://bbs.brenva.com/forum-62-1.html", promotion], opened)
        self.command(14)
        iconic = self.find(visible=True)
        self.assertTrue(harness.wait_until(lambda: self.find(visible=True)["rect"][0] <= -30000, 10),
                        "minimize left the window at %r" % (iconic["rect"],))
        self.assertEqual([], self.downloads("game.exe"), "none of these starts a download")
        self.close_program(proc)

    def test_promotion_without_a_link_opens_the_portal(self):
        self.serve_game([("game.exe", os.urandom(1000), {})])
        before = len(self.wine.opened_pages())
        proc, _ = self.start_program()
        self.command(19)
        opened = harness.wait_until(lambda: self.wine.opened_pages()[before:], 30)
        self.assertEqual(["http://www.brenva.com/"], opened)
        self.close_program(proc)

    def answer_folder_dialog(self, button):
        """The folder dialog of 更改 opens on the Desktop; 1 takes it, 2 cancels."""
        self.assertIsNotNone(harness.wait_until(lambda: self.wine.driver(
            "find", "--class", "#32770", "--timeout", "0")[0] == 0 or None, 20), "no folder dialog")
        self.assertEqual(0, self.wine.driver("command", "--class", "#32770", "--id", str(button), "--post")[0])
        self.assertEqual(0, self.wine.driver("gone", "--class", "#32770", "--timeout", "10000")[0])

    def test_change_moves_the_download_to_the_chosen_folder(self):
        data = os.urandom(20000)
        self.serve_game([("game.exe", data, {})])
        moved = os.path.join(self.wine.desktop_dir(), "game.exe")
        self.addCleanup(lambda: os.path.exists(moved) and os.unlink(moved))
        proc, _ = self.start_program()
        self.command(15)
        self.answer_folder_dialog(1)
        self.command(10)
        self.assertIsNotNone(self.find_prompt(), "no install prompt")
        with open(moved, "rb") as f:
            self.assertEqual(data, f.read())
        self.assertFalse(os.path.exists(self.game_file("game.exe")), "the proposed folder was used all the same")
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_change_to_a_read_only_folder_keeps_the_old_one(self):
        data = os.urandom(20000)
        self.serve_game([("game.exe", data, {})])
        desktop = self.wine.desktop_dir()
        if subprocess.run(["chattr", "+i", desktop], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no immutable directories here")
        self.addCleanup(subprocess.run, ["chattr", "-i", desktop], stderr=subprocess.DEVNULL)
        proc, _ = self.start_program()
        self.command(15)
        self.answer_folder_dialog(1)
        self.assertIsNotNone(self.find_prompt(), "no permission message")
        # The message's change-folder button opens the dialog again; cancelling it
        # keeps the proposed folder.
        self.answer_prompt(PROMPT_ACTION)
        self.answer_folder_dialog(2)
        self.command(10)
        self.assertIsNotNone(self.find_prompt(), "no install prompt")
        with open(self.game_file("game.exe"), "rb") as f:
            self.assertEqual(data, f.read())
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_a_full_screen_program_keeps_the_foreground_when_the_window_comes_back(self):
        self.serve_game([("game.exe", os.urandom(1000), {})])
        proc, window = self.start_program()
        x, y, cx, cy = window["rect"]
        middle = (x + cx // 2, y + cy // 2)
        self.command(13)
        self.assertIsNotNone(self.find(visible=False))
        cover = self.wine.start(harness.exe("wdriver.exe"), "cover", "--seconds", "15", capture=True)
        self.procs.append(cover)
        self.assertEqual(b"ready", cover.stdout.readline().strip())
        # A second start asks the running copy to show itself (2025).
        self.assertEqual(0, self.wine.start(self.program).wait(30))
        self.assertIsNotNone(self.find(visible=True), "the window did not come back")
        self.assertEqual((255, 0, 255), self.screenshot(None)(*middle), "the window went over the full-screen one")
        self.assertEqual(b"foreground 1", cover.stdout.readline().strip(), "the full-screen program lost the focus")
        cover.wait(10)
        # With nothing full-screen the same start brings the window to the top.
        self.command(13)
        self.assertIsNotNone(self.find(visible=False))
        self.assertEqual(0, self.wine.start(self.program).wait(30))
        self.assertIsNotNone(self.find(visible=True))
        self.assertNotEqual((255, 0, 255), self.screenshot(None)(*middle))
        self.close_program(proc)

    def test_a_press_anywhere_drags_and_a_click_on_the_button_downloads(self):
        self.serve_game([("game.exe", os.urandom(5000), {})])
        proc, window = self.start_program()
        x, y = window["rect"][:2]
        env = dict(os.environ, DISPLAY=self.display.name)

        def xdotool(*args):
            subprocess.run(["xdotool"] + [str(a) for a in args], env=env, check=True, timeout=30)

        xdotool("mousemove", x + 400, y + 40, "mousedown", "1")
        time.sleep(0.3)
        for step in range(1, 6):
            xdotool("mousemove", x + 400 + 8 * step, y + 40 + 6 * step)
            time.sleep(0.1)
        xdotool("mouseup", "1")
        moved = harness.wait_until(lambda: (lambda w: w if w["rect"][:2] != (x, y) else None)(self.find()), 5)
        self.assertIsNotNone(moved, "the window did not move")
        self.assertEqual((x + 40, y + 30), moved["rect"][:2])
        self.assertEqual([], self.downloads("game.exe"), "the drag pressed nothing")
        # The companion box cleared by a click is kept in the resume file.
        xdotool("mousemove", x + 40 + 22 + 5, y + 30 + 366 + 5)
        time.sleep(0.3)
        xdotool("click", "1")
        self.assertTrue(harness.wait_until(lambda: self.resume_values().get("dlgd") == "0", 5),
                        self.resume_values())
        # A real click on the download button, as a player makes it.
        bx, by = x + 40 + 520 + 60, y + 30 + 319 + 20
        xdotool("mousemove", bx - 3, by - 2)
        time.sleep(0.3)
        xdotool("mousemove", bx, by)
        time.sleep(0.3)
        xdotool("click", "1")
        self.assertIsNotNone(self.find_prompt(), "no install prompt after the click")
        self.assertEqual(1, len(self.downloads("game.exe")))
        started = [r for r in self.reports() if r["action"] == "2"]
        self.assertEqual("0", started[0].get("tg"), started)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_pause_during_the_companion_then_continue_downloads_the_game(self):
        data = os.urandom(100000)
        self.serve_game([("game.exe", data, {})], companion=(self.marker, {"chunk_size": 2048, "chunk_delay": 0.1}))
        proc, _ = self.start_program()
        self.command(10)
        self.assertTrue(self.server.wait_for(
            lambda reqs: any(r["path"] == "/c/gardbox_setup.exe" for r in reqs), 20), "no companion download")
        self.command(12)
        self.assertEqual(1, self.wait_mode(1))
        self.assertFalse(os.path.exists(self.game_file("game.exe.P2P")), "the game task ran before the companion")
        self.server.add("/c/gardbox_setup.exe", body=self.marker)
        self.command(11)
        prompt = self.find_prompt(60)
        self.assertIsNotNone(prompt)
        self.assertEqual("DownloadFinished", prompt["title"], "continue did not go on with the game")
        with open(self.game_file("game.exe"), "rb") as f:
            self.assertEqual(data, f.read())
        self.assertNotIn("6", [r["action"] for r in self.reports()], "a restart from scratch was reported")
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_failure_in_the_middle_of_a_list_then_redownload_resumes_from_the_partial_data(self):
        files = [("data1.bin", os.urandom(100000), {}),
                 ("data2.bin", os.urandom(8 << 20), {"chunk_size": 16384, "chunk_delay": 0.05, "truncate_at": 300000}),
                 ("marker.exe", self.marker, {})]
        self.serve_game(files, game_start="marker.exe")
        proc, _ = self.start_program()
        self.command(10)
        self.assertTrue(self.server.wait_for(lambda reqs: any(r["path"] == "/g/data2.bin" for r in reqs), 30))
        # Every connection breaks off after 300000 bytes, and from now on the
        # server has lost the file: the engine gives up on file 2.
        time.sleep(0.5)
        self.server.add("/g/data2.bin", body=b"", status=404)
        prompt = self.find_prompt(120)
        self.assertIsNotNone(prompt, "no failure prompt")
        self.assertEqual("feedback", self.prompt_button(prompt))
        self.assertTrue(os.path.exists(self.game_file("data2.bin.P2P")))
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.assertEqual(4, self.wait_mode(4))
        self.assertIsNone(self.find_prompt(3), "a prompt came back without a click")
        self.server.clear_requests()
        # The file is back, served as a plain file that answers ranges (a
        # route answers every request with the whole body).
        www = tempfile.mkdtemp(prefix="gd-www-", dir=self.folder)
        os.makedirs(os.path.join(www, "g"))
        with open(os.path.join(www, "g", "data2.bin"), "wb") as f:
            f.write(files[1][1])
        self.addCleanup(setattr, self.server, "root", self.server.root)
        self.server.root = os.path.realpath(www)
        self.server.remove("/g/data2.bin")
        self.command(20)
        prompt = self.find_prompt(120)
        self.assertIsNotNone(prompt)
        self.assertEqual("DownloadFinished", prompt["title"], (self.prompt_button(prompt), self.reports(), [
            (r["path"], r["headers"].get("Range", "")) for r in self.server.requests() if r["path"].startswith("/g/")],
            sorted(os.listdir(self.download_dir))))
        for name, data, _ in files:
            with open(self.game_file(name), "rb") as f:
                self.assertEqual(data, f.read(), name)
        ranges = [r["headers"].get("Range", "") for r in self.downloads("data2.bin")]
        self.assertTrue(ranges, "file 2 was not fetched again")
        self.assertFalse(any(r.startswith("bytes=0-") for r in ranges), "file 2 started over: %r" % ranges)
        self.assertTrue(any(r.startswith("bytes=") and int(r[6:].split("-")[0]) % (1 << 20) for r in ranges),
                        "no segment went on from where it stopped: %r" % ranges)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_folder_turned_read_only_after_file_one_asks_once_and_continue_goes_on(self):
        files = [("data1.bin", os.urandom(400000), {"chunk_size": 16384, "chunk_delay": 0.05}),
                 ("data2.bin", os.urandom(100000), {}), ("marker.exe", self.marker, {})]
        self.serve_game(files, game_start="marker.exe")
        proc, _ = self.start_program()
        self.command(10)
        self.assertTrue(self.wait_file(self.game_file("data1.bin.P2P")))
        # The moment file 1 is in place, before the next file is set up.
        self.assertTrue(harness.wait_until(lambda: os.path.exists(self.game_file("data1.bin")), 60, 0.005))
        if subprocess.run(["chattr", "+i", self.download_dir], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no immutable directories here")
        prompt = self.find_prompt(30)
        self.assertIsNotNone(prompt, "no directory message")
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.assertIsNone(self.find_prompt(3), "the directory message came back")
        self.assertEqual(1, self.wait_mode(1))
        self.assertEqual([], self.downloads("data2.bin"))
        subprocess.run(["chattr", "-i", self.download_dir], check=True)
        self.command(11)
        prompt = self.find_prompt(60)
        self.assertIsNotNone(prompt)
        self.assertEqual("DownloadFinished", prompt["title"])
        for name, data, _ in files:
            with open(self.game_file(name), "rb") as f:
                self.assertEqual(data, f.read(), name)
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_file_that_ends_just_before_a_pause_leaves_no_side_file_beside_it(self):
        files = [("data1.bin", os.urandom(400000), {"chunk_size": 16384, "chunk_delay": 0.05}),
                 ("data2.bin", os.urandom(100000), {}), ("marker.exe", self.marker, {})]
        for attempt in range(3):
            self.server.clear_requests()
            self.serve_game(files, game_start="marker.exe")
            self.start_program()
            self.command(10)
            self.assertTrue(self.wait_file(self.game_file("data1.bin.P2P")))
            # The pause comes the moment file 1 is in place, before the next
            # poll: the list does not know yet that the file has ended.
            self.assertTrue(harness.wait_until(lambda: os.path.exists(self.game_file("data1.bin")), 60, 0.005))
            self.command(12)
            self.assertEqual(1, self.wait_mode(1))
            if not self.downloads("data2.bin"):
                break
            # The poll was first and file 2 started: try again.
            self.wine.kill_all()
            self.clean_disk()
        else:
            self.skipTest("the poll saw file 1 end before the pause every time")
        # The server goes away; continue, a few seconds, pause, then a kill.
        for name, _, _ in files:
            self.server.add("/g/" + name, body=b"", status=503)
        self.command(11)
        time.sleep(4)
        self.command(12)
        self.assertEqual(1, self.wait_mode(1))
        self.wine.kill_all()
        self.assertFalse(os.path.exists(self.game_file("data1.bin.P2P")), "a side file beside the finished file 1")
        # The server is back: the next start finishes the list.
        self.serve_game(files, game_start="marker.exe")
        proc, _ = self.start_program()
        self.assertEqual(1, self.wait_mode(1))
        self.command(11)
        prompt = self.find_prompt(60)
        self.assertIsNotNone(prompt, "no install prompt after continuing")
        for name, data, _ in files:
            with open(self.game_file(name), "rb") as f:
                self.assertEqual(data, f.read(), name)
        self.assertEqual(["data1.bin", "data2.bin", "marker.exe"], sorted(os.listdir(self.download_dir)))
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)

    def test_read_only_directory_gives_the_permission_message(self):
        self.serve_game([("game.exe", os.urandom(1000), {})])
        os.makedirs(self.download_dir)
        if subprocess.run(["chattr", "+i", self.download_dir], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no immutable directories here")
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt()
        self.assertIsNotNone(prompt, "no directory message")
        self.screenshot("download-permission-prompt")
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.assertEqual(0, self.mode("_read-only-after"))
        self.assertEqual([], self.downloads("game.exe"))
        self.assertNotIn("2", [r["action"] for r in self.reports()])
        self.close_program(proc)


def picture(width, height):
    """A red picture with a cyan block at (380, 30)-(420, 50), as PNG bytes."""
    return subprocess.run(["convert", "-size", "%dx%d" % (width, height), "xc:rgb(200,30,30)", "-fill",
                           "rgb(0,255,255)", "-draw", "rectangle 380,30 420,50", "PNG24:-"],
                          check=True, stdout=subprocess.PIPE, timeout=30).stdout


class BackgroundTest(DownloadWindowTest):
    key = "{F3C9E507-2D4B-4E8F-A0BC-3D4E5F607182}"

    def window_pixels(self, *points):
        window = self.find(visible=True)
        pixel = self.screenshot(None)
        return [pixel(window["rect"][0] + x, window["rect"][1] + y) for x, y in points]

    def test_fetched_picture_of_full_size_is_the_background_with_its_colour_key(self):
        self.serve_game([("game.exe", os.urandom(1000), {})], skin=picture(680, 420))
        proc, _ = self.start_program()
        self.assertTrue(self.server.wait_for(lambda reqs: any(r["path"] == "/skin.png" for r in reqs), 1))
        plain, keyed = self.window_pixels((450, 40), (400, 40))
        self.assertEqual((200, 30, 30), plain)
        # Cyan is the colour key: the screen behind (black here) shows through.
        self.assertEqual((0, 0, 0), keyed)
        self.close_program(proc)

    def test_too_small_picture_leaves_the_built_in_background(self):
        self.serve_game([("game.exe", os.urandom(1000), {})], skin=picture(679, 420))
        proc, _ = self.start_program()
        self.assertTrue(self.server.wait_for(lambda reqs: any(r["path"] == "/skin.png" for r in reqs), 1))
        for colour in self.window_pixels((450, 40), (400, 40)):
            self.assertNotIn(colour, ((200, 30, 30), (0, 255, 255), (0, 0, 0)))
        self.close_program(proc)


class DownloadSmokeTest64(DownloadWindowTest):
    arch = "win64"
    key = "{E2B8D4F6-1C3A-4D7E-9FAB-2C3D4E5F6071}"

    def test_one_file_game_downloads(self):
        data = os.urandom(100000)
        self.serve_game([("game.exe", data, {})])
        proc, _ = self.start_program()
        self.command(10)
        prompt = self.find_prompt()
        self.assertIsNotNone(prompt)
        self.assertEqual("DownloadFinished", prompt["title"])
        with open(self.game_file("game.exe"), "rb") as f:
            self.assertEqual(data, f.read())
        self.answer_prompt(PROMPT_CLOSE_LABEL)
        self.close_program(proc)


if __name__ == "__main__":
    unittest.main()
