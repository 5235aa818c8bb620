"""The engine DLL under Wine: its exports, the 596-byte status record, downloads
from local servers through pdown.exe and the probe, and a stop in one process
resumed by a task made again in the next."""
import hashlib
import os
import shutil
import sys
import tempfile
import unittest

import harness

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "p2sp"))
import servers  # noqa: E402

MiB = 1 << 20
EXPORTS = ["Init", "Login", "Uninit", "CreateP2SPTask", "QueryTask", "StartTask", "StopTask", "StopSeed",
           "GetFinishMessage", "RemoveTask", "SetConfigInfo", "UpdateRegInfo", "SetP2spOption"]


def parse(out):
    lines = {}
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        lines[word] = rest.split()
    return lines


class EngineDllTest(unittest.TestCase):
    arch = "win32"

    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = harness.session()
        cls.root = tempfile.mkdtemp(prefix="gd-engine-root-")
        cls.data = servers.make_data(6 * MiB + 77, seed=5)
        with open(os.path.join(cls.root, "game.bin"), "wb") as f:
            f.write(cls.data)
        cls.h1 = hashlib.md5(cls.data).hexdigest()
        cls.nginx = servers.Nginx(cls.root, slow_rate="256k").start()

    @classmethod
    def tearDownClass(cls):
        cls.nginx.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="gd-engine-out-")
        self.target = os.path.join(self.dir, "game.bin")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def exe(self, name):
        return harness.exe(name, self.arch)

    def dll(self):
        return harness.winpath(self.exe("TarnP2SP.dll"))

    def link(self, path="game.bin", h1=None):
        return "PDown://b7=1|%s|h1=%s" % (self.nginx.url(path), h1 or self.h1)

    def assert_right_file(self):
        with open(self.target, "rb") as f:
            self.assertTrue(f.read() == self.data, "content differs")
        self.assertFalse(os.path.exists(self.target + ".P2P"))

    def test_all_thirteen_exports(self):
        code, out = self.wine.run(self.exe("engine_dll_probe.exe"), "exports", self.dll())
        self.assertEqual(code, 0, out)
        for name in EXPORTS:
            self.assertIn("export %s 1" % name, out)

    def test_download_fills_the_record(self):
        code, out = self.wine.run(self.exe("engine_dll_probe.exe"), "run", self.dll(), self.link(),
                                  harness.winpath(self.target), 0, timeout=120)
        self.assertEqual(code, 0, out)
        end = parse(out)["end"]
        self.assertEqual(int(end[0]), 1, out)
        self.assertEqual(int(end[1]), len(self.data))
        self.assertEqual(int(end[2]), len(self.data))
        self.assert_right_file()

    def test_pdown_exe_exit_codes(self):
        code, _ = self.wine.run(self.exe("pdown.exe"), "--quiet", self.link(), harness.winpath(self.target),
                                timeout=120)
        self.assertEqual(code, 0)
        self.assert_right_file()
        os.unlink(self.target)
        code, _ = self.wine.run(self.exe("pdown.exe"), "--quiet", self.link(h1="0" * 32), harness.winpath(self.target),
                                timeout=120)
        self.assertEqual(code, 6)
        self.assertFalse(os.path.exists(self.target))
        code, _ = self.wine.run(self.exe("pdown.exe"), "--quiet", "--retries", "1", self.link("absent.bin"),
                                harness.winpath(self.target), timeout=120)
        self.assertEqual(code, 5)
        self.assertFalse(os.path.exists(self.target))

    def test_chinese_folder_names(self):
        folder = os.path.join(self.dir, "下载 游戏")
        os.makedirs(folder)
        self.target = os.path.join(folder, "游戏.bin")
        code, out = self.wine.run(self.exe("engine_dll_probe.exe"), "run", self.dll(), self.link(),
                                  harness.winpath(self.target), 0, timeout=120)
        self.assertEqual(code, 0, out)
        self.assertEqual(int(parse(out)["end"][0]), 1, out)
        self.assert_right_file()

    def test_stop_then_resume_in_a_new_process(self):
        slow = self.link("slow/game.bin")
        code, out = self.wine.run(self.exe("engine_dll_probe.exe"), "run", self.dll(), slow,
                                  harness.winpath(self.target), MiB, timeout=120)
        self.assertEqual(code, 0, out)
        stopped = [int(x) for x in parse(out)["stopped"]]
        self.assertGreaterEqual(stopped[0], MiB)
        self.assertEqual(stopped[1], len(self.data))
        self.assertEqual(stopped[2:], [0, 1, 1])  # still "not finished"; start and stop answered 1
        self.assertTrue(os.path.exists(self.target + ".P2P"))
        self.assertFalse(os.path.exists(self.target))
        # The next process makes the task again, with the plain link as the
        # downloader does, and carries on from the recorded progress.
        code, out = self.wine.run(self.exe("engine_dll_probe.exe"), "run", self.dll(), self.nginx.url("slow/game.bin"),
                                  harness.winpath(self.target), 0, timeout=120)
        self.assertEqual(code, 0, out)
        first = [int(x) for x in parse(out)["first"]]
        self.assertGreaterEqual(first[0], MiB - 8 * 65536, out)
        self.assertEqual(int(parse(out)["end"][0]), 1, out)
        self.assert_right_file()

    def test_a_manifest_checks_every_piece_of_a_lying_mirror(self):
        # The plain link, no h1: only the manifest's pieces can catch the mirror.
        faults = servers.FaultServer().start()
        faults.data = self.data
        meta = os.path.join(self.root, "game.bin.meta4")
        with open(meta, "wb") as f:
            f.write(servers.meta4(self.data, name="game.bin", urls=[faults.url("lie", "game.bin")]))
        try:
            # Few connections on the slow link, so that it has not asked for
            # every byte before the mirror is known.
            code, out = self.wine.run(self.exe("pdown.exe"), "--quiet", "--connections", "2",
                                      self.nginx.url("slow/game.bin"), harness.winpath(self.target), timeout=120)
        finally:
            os.unlink(meta)
            faults.stop()
        self.assertEqual(code, 0, out)
        self.assert_right_file()
        self.assertGreater(faults.bytes.get("lie", 0), 0, "the manifest's mirror was never used")

    def test_engine_unit_tests(self):
        code, out = self.wine.run(self.exe("p2sp_tests.exe"), "--gtest_brief=1", timeout=300)
        self.assertEqual(code, 0, out[-3000:])
        self.assertIn("[  PASSED  ]", out)


class EngineDllTest64(EngineDllTest):
    arch = "win64"


if __name__ == "__main__":
    unittest.main()
