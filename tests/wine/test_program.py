"""The program itself under Wine: game key, single instance, activation of the download window."""
import os
import unittest

import harness

TITLE = "Brenva网游戏下载器-%s专版"


def config_for(name):
    text = ("[GameConfig]\r\nGameName=%s\r\nGameSize=1000\r\nGameDownloadLink=http://h.invalid/g/setup.exe\r\n"
            "[DownLoader]\r\nNewVersion=1.1.0.1010\r\n" % name)
    return b"\xff\xfe" + text.encode("utf-16-le")


def parse_window(line):
    hwnd, cls, title, visible, rect = line.split("\t")
    return {"class": cls, "title": title, "visible": visible == "1",
            "rect": tuple(int(v) for v in rect.split(","))}


class ProgramTest(harness.WineServerTestCase):
    arch = "win32"

    def setUp(self):
        super().setUp()
        self.started = []

    def tearDown(self):
        for proc in self.started:
            if proc.poll() is None:
                self.wine.kill_all()
                break

    def copy_for(self, key, subfolder):
        return harness.branded_copy(harness.exe("GameDownloader.exe", self.arch),
                                    os.path.join(self.folder, self.arch, subfolder),
                                    game_key=key, server=self.server_base, wine=self.wine)

    def start(self, program, *args):
        proc = self.wine.start(program, *args)
        self.started.append(proc)
        return proc

    def wait_request(self, path, timeout=20):
        return self.server.wait_for(lambda reqs: any(r["path"] == path for r in reqs), timeout)

    def find_window(self, *selector, timeout=15000):
        code, out = self.wine.driver("find", *selector, "--timeout", str(timeout))
        return parse_window(out.strip()) if code == 0 else None

    def close_and_wait(self, proc, title):
        # The download window only hides on WM_CLOSE; its tray menu's "关闭" ends the program.
        code, _ = self.wine.driver("command", "--title", title, "--id", "2026")
        self.assertEqual(code, 0)
        self.assertEqual(proc.wait(20), 0)

    def test_key_is_cut_to_38_characters_and_arguments_are_ignored(self):
        guid = "{5D0C9E21-7A3B-4C8D-9E1F-2A3B4C5D6E7F}"
        program = self.copy_for(guid + "XY", "key40")
        self.server.add("/tool/muldown/%s.html" % guid, body=config_for("KeyCut"))
        proc = self.start(program, "--ignored", "arguments")
        self.assertTrue(self.wait_request("/tool/muldown/%s.html" % guid))
        window = self.find_window("--title", TITLE % "KeyCut")
        self.assertIsNotNone(window)
        self.close_and_wait(proc, TITLE % "KeyCut")
        self.assertEqual([r["path"] for r in self.server.requests()], ["/tool/muldown/%s.html" % guid])

    def test_second_copy_activates_the_download_window_and_exits(self):
        key = "{7F2EB043-9C5D-4EAF-B031-4C5D6E7F8091}"
        program = self.copy_for(key, "single")
        self.server.add("/tool/muldown/%s.html" % key, body=config_for("Single"))
        first = self.start(program)
        self.assertTrue(self.wait_request("/tool/muldown/%s.html" % key))
        window = self.find_window("--class", key)
        self.assertIsNotNone(window)
        self.assertEqual(window["title"], TITLE % "Single")
        # Closing only hides the download window; a second start brings it back.
        self.assertEqual(self.wine.driver("close", "--class", key)[0], 0)
        self.assertTrue(harness.wait_until(lambda: not self.find_window("--class", key, timeout=0)["visible"]))
        second = self.start(program)
        self.assertEqual(second.wait(30), 0)
        self.assertTrue(harness.wait_until(lambda: self.find_window("--class", key, timeout=0)["visible"]),
                        "shown again by command 2025")
        self.assertIsNone(first.poll(), "the first copy keeps running")
        self.assertEqual(len(self.server.requests()), 1, "the second copy fetched nothing")
        self.close_and_wait(first, TITLE % "Single")

    def test_second_copy_during_initialization_exits_quietly(self):
        key = "{80A3C154-AD6E-4FB0-C142-5D6E7F8091A2}"
        program = self.copy_for(key, "early")
        self.server.add("/tool/muldown/%s.html" % key, body=config_for("Early"), delay=3)
        first = self.start(program)
        self.assertIsNotNone(self.find_window("--title", TITLE % ""))
        second = self.start(program)
        self.assertEqual(second.wait(30), 0)
        self.assertIsNone(first.poll())
        self.assertIsNotNone(self.find_window("--title", TITLE % "Early"))
        self.close_and_wait(first, TITLE % "Early")

    def test_two_game_keys_run_side_by_side(self):
        keys = {"Alpha": "{91B4D265-BE7F-40C1-D253-6E7F8091A2B3}", "Beta": "{A2C5E376-CF80-41D2-E364-7F8091A2B3C4}"}
        procs = {}
        for name, key in keys.items():
            self.server.add("/tool/muldown/%s.html" % key, body=config_for(name))
            procs[name] = self.start(self.copy_for(key, name))
        for name in keys:
            self.assertIsNotNone(self.find_window("--title", TITLE % name), name)
        for name in keys:
            self.assertIsNone(procs[name].poll())
        for name in keys:
            self.close_and_wait(procs[name], TITLE % name)


class ProgramTest64(ProgramTest):
    arch = "win64"


if __name__ == "__main__":
    unittest.main()
