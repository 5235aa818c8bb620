"""Two players on one machine's network fetch the same game: two copies of the
program in two Wine prefixes (two Windows machines, as far as each knows). The
second starts a few seconds after the first and takes pieces from it, so the
publisher's server sends less than the game twice. Sharing stays on loopback
(P2SP_SHARE_ADDRESS), as everywhere in the tests."""
import os
import sys
import time

import harness
from test_end_to_end import EndToEndTest

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "p2sp"))
import servers  # noqa: E402

PIECE = 4 << 20
SIZE = 40 << 20


def range_bytes(requests):
    total = 0
    for r in requests:
        first, _, last = r["headers"].get("Range", "").partition("=")[2].partition("-")
        if first.isdigit() and last.isdigit():
            total += int(last) - int(first) + 1
    return total


class PeersTest(EndToEndTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wine_b = harness.Wine(cls.display.name, prefix=os.path.join(harness.BUILD, "wine", "prefix-b"))
        cls.wine_b.ensure_prefix()
        # Every connection of the publisher's server is slow, so that the
        # first player is still at work when the second comes.
        handler = cls.server._httpd.RequestHandlerClass
        plain = handler._send_stream
        handler._send_stream = lambda self, stream, length, piece, pause, chunked: plain(
            self, stream, length, piece, max(pause, piece / (192 * 1024.0)), chunked)

    @classmethod
    def tearDownClass(cls):
        cls.wine_b.kill_all()
        super().tearDownClass()

    def test_the_second_player_takes_pieces_from_the_first(self):
        key = "{6A1F2C3D-4E5F-4071-8293-A4B5C6D7E8F9}"
        program, paths = self.game(key, "双人", [("shared.pak", SIZE)])
        with open(paths[0], "rb") as f:
            data = f.read()
        with open(paths[0] + ".meta4", "wb") as f:
            f.write(servers.meta4(data, name="shared.pak", piece=PIECE))
        save_b = os.path.join(self.wine_b.prefix, "drive_c", "download")
        for suffix in ("", ".P2P"):
            if os.path.exists(os.path.join(save_b, "shared.pak" + suffix)):
                os.unlink(os.path.join(save_b, "shared.pak" + suffix))
        resume_b = os.path.join(self.wine_b.temp_dir(), key + ".tmp.cfg")
        if os.path.exists(resume_b):
            os.unlink(resume_b)

        first = self.start_and_download(program, key)
        time.sleep(6)
        second = self.wine_b.start(program)
        self.procs.append(second)
        self.assertEqual(self.wine_b.driver("find", "--class", key, "--timeout", "30000")[0], 0, "B's window")
        self.assertEqual(self.wine_b.driver("command", "--class", key, "--id", "10", "--post")[0], 0)
        for wine in (self.wine, self.wine_b):
            code, _ = wine.driver("find", "--title", "DownloadFinished", "--timeout", "150000", timeout=180)
            self.assertEqual(code, 0, "the install prompt of the player in %s" % wine.prefix)

        self.assert_files_match(paths)
        target_b = os.path.join(save_b, "shared.pak")
        with open(target_b, "rb") as f:
            self.assertTrue(f.read() == data, "B's file differs")
        self.assertFalse(os.path.exists(target_b + ".P2P"))
        sent = range_bytes([r for r in self.server.requests() if r["path"].endswith("/shared.pak")])
        print("publisher sent %.1f MiB for two copies of %.1f MiB" % (sent / 1048576.0, SIZE / 1048576.0))
        self.assertLess(sent, 2 * SIZE - 2 * PIECE, "the second player took nothing from the first")

        for wine, proc in ((self.wine_b, second), (self.wine, first)):
            wine.driver("command", "--class", key, "--id", "2026", "--post")
            self.assertEqual(proc.wait(30), 0)
