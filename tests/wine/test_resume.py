"""The resume file under Wine: where it lives, and the download time kept in it across runs."""
import os

import harness

KEYS = ["{C4E7A598-E1A2-43F4-A586-91A2B3C4D5E6}", "{D5F8B6A9-F2B3-4405-B697-A2B3C4D5E6F7}"]
TITLE = "Brenva网游戏下载器-%s专版"


def parse(out):
    values = {}
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        values.setdefault(word, []).append(rest)
    return values


def read_profile(path):
    """The keys of section Wavepull, read the way the program writes them."""
    with open(path, "rb") as f:
        data = f.read()
    text = data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode("latin-1")
    values, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line.strip("[]").lower()
        elif "=" in line and section == "wavepull":
            key, _, value = line.partition("=")
            values.setdefault(key.strip().lower(), value.strip())
    return values


class ResumeTest(harness.WineServerTestCase):
    arch = "win32"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.probes = {key: harness.branded_copy(harness.exe("stats_probe.exe", cls.arch),
                                                os.path.join(cls.folder, cls.arch, str(i)), game_key=key,
                                                server=cls.server_base, wine=cls.wine)
                      for i, key in enumerate(KEYS)}

    def setUp(self):
        super().setUp()
        for key in KEYS:
            if os.path.exists(self.resume_file(key)):
                os.unlink(self.resume_file(key))

    def resume_file(self, key):
        return os.path.join(self.wine.temp_dir(), key + ".tmp.cfg")

    def run_probe(self, key, *args):
        code, out = self.wine.run(self.probes[key], *args)
        self.assertEqual(code, 0, out)
        return parse(out)

    def test_each_game_has_its_own_file_in_the_temporary_folder(self):
        for key in KEYS:
            out = self.run_probe(key, "resume-path", "reset-resume")
            self.assertTrue(out["resume-path"][0].endswith("\\Temp\\%s.tmp.cfg" % key), out["resume-path"])
        for key in KEYS:
            self.assertTrue(os.path.exists(self.resume_file(key)), key)

    def test_download_time_survives_a_restart(self):
        key = KEYS[0]
        out = self.run_probe(key, "registered", "reset-resume", "dl-start", "sleep", "300", "dl-stop", "dl-total")
        self.assertEqual(out["registered"], ["1"], "the listener is the engine's")
        first = int(out["dl-total"][0])
        self.assertGreaterEqual(first, 290)
        self.assertLess(first, 2000)
        self.assertEqual(read_profile(self.resume_file(key)).get("downloadtotaltime"), str(first))

        out = self.run_probe(key, "dl-total", "dl-start", "sleep", "200", "dl-stop", "dl-total")
        loaded, second = (int(v) for v in out["dl-total"])
        self.assertEqual(loaded, first)
        self.assertGreaterEqual(second, first + 190)
        self.assertEqual(read_profile(self.resume_file(key)).get("downloadtotaltime"), str(second))

    def test_without_a_resume_file_no_time_is_kept(self):
        key = KEYS[1]
        out = self.run_probe(key, "dl-start", "sleep", "100", "dl-stop", "dl-total")
        self.assertGreaterEqual(int(out["dl-total"][0]), 90)
        self.assertFalse(os.path.exists(self.resume_file(key)), "only a reset makes the file")
        self.assertEqual(self.run_probe(key, "dl-total")["dl-total"], ["0"])

    def test_the_program_loads_and_stores_the_time_and_keeps_other_keys(self):
        key = KEYS[1]
        program = harness.branded_copy(harness.exe("GameDownloader.exe", self.arch),
                                       os.path.join(self.folder, self.arch, "program"), game_key=key,
                                       server=self.server_base, wine=self.wine)
        text = "[Wavepull]\r\nDir=C:\\games\\\r\nDlGD=1\r\nDownloadTotalTime= 0424242 ms\r\n"
        with open(self.resume_file(key), "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        # No size: the initialization-failed prompt comes up instead of the download
        # window, which would start the resume file afresh.
        config = ("[GameConfig]\r\nGameName=Timer\r\nGameSize=0\r\nGameDownloadLink=http://h.invalid/g/setup.exe\r\n"
                  "[DownLoader]\r\nNewVersion=1.1.0.1010\r\n")
        self.server.add("/tool/muldown/%s.html" % key, body=b"\xff\xfe" + config.encode("utf-16-le"))
        proc = self.wine.start(program)
        try:
            code, _ = self.wine.driver("find", "--title", TITLE % "Timer", "--timeout", "15000")
            self.assertEqual(code, 0, "the initialization-failed prompt")
            code, _ = self.wine.driver("close", "--title", TITLE % "Timer")
            self.assertEqual(code, 0)
            self.assertEqual(proc.wait(20), 0)
        finally:
            if proc.poll() is None:
                proc.kill()
        # Read when the program started and written back as a plain number at its end.
        values = read_profile(self.resume_file(key))
        self.assertEqual(values.get("downloadtotaltime"), "424242")
        self.assertEqual(values.get("dir"), "C:\\games\\")
        self.assertEqual(values.get("dlgd"), "1")


class ResumeTest64(ResumeTest):
    arch = "win64"
