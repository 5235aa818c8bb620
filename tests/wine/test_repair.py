"""A game file already in the save folder that fails its check at start-up (a
damaged copy, the publisher's previous version) costs the player only the
pieces it lacks when the file has a manifest: the program leaves it to the
engine instead of deleting it."""
import os
import sys
import time

import harness
import test_end_to_end
from test_end_to_end import EndToEndTest

sys.path.append(os.path.join(harness.ROOT, "tests", "p2sp"))
import servers  # noqa: E402

PIECE = 1 << 20
SIZE = 12 * PIECE + 4321


def bytes_asked(requests, size):
    """Range requests count their length, others the whole file."""
    total = 0
    for r in requests:
        first, _, last = r["headers"].get("Range", "").partition("=")[2].partition("-")
        if first.isdigit() and last.isdigit():
            total += int(last) - int(first) + 1
        elif first.isdigit():
            total += size - int(first)
        else:
            total += size
    return total


def random_file(path, size, seed):
    with open(path, "wb") as f:
        f.write(servers.make_data(size, seed=len(seed)))


class RepairTest(EndToEndTest):
    locals().update({name: None for name in dir(EndToEndTest) if name.startswith("test_")})

    def test_a_file_that_fails_its_check_at_start_up_costs_only_its_bad_pieces(self):
        # Pieces that differ from each other, so that each can only be found
        # where it is.
        plain = test_end_to_end.make_file
        self.addCleanup(setattr, test_end_to_end, "make_file", plain)
        test_end_to_end.make_file = random_file
        key = "{7B2E3D4F-5A6B-4C7D-8E9F-A0B1C2D3E4F5}"
        target = os.path.join(self.save_dir, "repair.pak")
        # The last piece holds the checked tail: a flip there fails the MD5
        # check at start-up.
        cases = [("one damaged byte", lambda d: d[:SIZE - 10] + bytes([d[SIZE - 10] ^ 1]) + d[SIZE - 9:], 4321),
                 ("the previous version", lambda d: d[:3 * PIECE] + b"\0" * PIECE + d[4 * PIECE:SIZE - 4321] + b"old",
                  PIECE + 4321)]
        for name, damage, lacking in cases:
            with self.subTest(name):
                program, paths = self.game(key, "修复", [("repair.pak", SIZE)])
                with open(paths[0], "rb") as f:
                    data = f.read()
                with open(paths[0] + ".meta4", "wb") as f:
                    f.write(servers.meta4(data, name="repair.pak", piece=PIECE))
                os.makedirs(self.save_dir, exist_ok=True)
                with open(target, "wb") as f:
                    f.write(damage(data))
                # The folder of the earlier download, as the program stored it.
                with open(os.path.join(self.temp, key + ".tmp.cfg"), "w", newline="") as f:
                    f.write("[Wavepull]\r\nDir=C:\\download\\\r\n")
                since = time.time()
                proc = self.start_and_download(program, key)
                self.wait_install_prompt()
                self.assert_files_match(paths)
                self.assertFalse(os.path.exists(target + ".P2P.old"), name)
                asked = bytes_asked([r for p, r in self.paths_requested(since) if p.endswith("/repair.pak")], SIZE)
                print("%s: the publisher was asked for %d bytes of %d" % (name, asked, SIZE))
                self.assertGreaterEqual(asked, lacking, name)
                self.assertLess(asked, lacking + 2 * 64 * 1024, name)
                self.answer_install_prompt()
                self.quit(proc, key)
