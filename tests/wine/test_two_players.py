"""Two players on one machine's network fetch the same game: two copies of the
program in two Wine prefixes (two Windows machines, as far as each knows). The
second starts once the first has the game and takes pieces from it, so the
publisher's server sends less than the game twice. Sharing stays on loopback
(P2SP_SHARE_ADDRESS), as everywhere in the tests."""
import os
import sys
import time

import harness
from test_end_to_end import EndToEndTest

sys.path.append(os.path.join(harness.ROOT, "tests", "p2sp"))
import servers  # noqa: E402

PIECE = 4 << 20
SIZE = 24 << 20


def range_bytes(requests):
    total = 0
    for r in requests:
        first, _, last = r["headers"].get("Range", "").partition("=")[2].partition("-")
        if first.isdigit() and last.isdigit():
            total += int(last) - int(first) + 1
    return total


class PeersTest(EndToEndTest):
    # The end-to-end cases run once, in their own class.
    locals().update({name: None for name in dir(EndToEndTest) if name.startswith("test_")})

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
            self, stream, length, piece, max(pause, piece / (96 * 1024.0)), chunked)

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
        # The first player has the whole game when the second starts: it
        # serves it from the install prompt on, until it is closed.
        self.wait_install_prompt(timeout=120)
        second = self.wine_b.start(program)
        self.procs.append(second)
        self.assertEqual(self.wine_b.driver("find", "--class", key, "--timeout", "30000")[0], 0, "B's window")
        self.assertEqual(self.wine_b.driver("command", "--class", key, "--id", "10", "--post")[0], 0)
        code, _ = self.wine_b.driver("find", "--title", "DownloadFinished", "--timeout", "120000", timeout=150)
        self.assertEqual(code, 0, "the second player's install prompt")

        self.assert_files_match(paths)
        target_b = os.path.join(save_b, "shared.pak")
        with open(target_b, "rb") as f:
            self.assertTrue(f.read() == data, "B's file differs")
        self.assertFalse(os.path.exists(target_b + ".P2P"))
        for wine, proc in ((self.wine_b, second), (self.wine, first)):
            wine.driver("command", "--class", key, "--id", "2026", "--post")
            self.assertEqual(proc.wait(30), 0)
        # What the players reported: bytes from each other, as the publisher sees them.
        days = [d for d in self.stats.json("/api/figures")["sharing"]["days"] if d["game"] == key]
        self.assertEqual(len(days), 1, days)
        print("figures: %d finished, %.1f MiB from players, %.1f MiB served" % (
            days[0]["finished"], days[0]["peerBytes"] / 1048576.0, days[0]["servedBytes"] / 1048576.0))
        self.assertEqual(days[0]["finished"], 2)
        self.assertGreaterEqual(days[0]["peerBytes"], PIECE)
        # Served bytes are reported with the completion: the first player
        # served the second after its own report, so they do not show here.
        sent = range_bytes([r for r in self.server.requests() if r["path"].endswith("/shared.pak")])
        # Asked for, not sent: requests cut short count whole.
        print("the publisher was asked for %.1f MiB for two copies of %.1f MiB" % (sent / 1048576.0,
                                                                                   SIZE / 1048576.0))
