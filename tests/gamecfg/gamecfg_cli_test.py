#!/usr/bin/env python3
"""gamecfg on the command line: make, check, md5 and verify on generated games.

Run by ctest with GAMECFG set to the built tool; one test class per command:
  gamecfg_cli_test.py MakeTest
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

GAMECFG = os.environ.get("GAMECFG", "gamecfg")
TAIL = 52428800
MD5_OF_NOTHING = "0" * 32


def run(*args):
    proc = subprocess.run([GAMECFG] + [str(a) for a in args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def tail_md5(path):
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        f.seek(max(0, size - TAIL))
        return hashlib.md5(f.read()).hexdigest() if size else MD5_OF_NOTHING


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def ini(sections):
    lines = []
    for name, values in sections:
        lines.append("[%s]" % name)
        lines += ["%s=%s" % kv for kv in values]
    return "\r\n".join(lines) + "\r\n"


def config(game=None, downloader=None, gardbox=None):
    game = game if game is not None else [
        ("GameName", "幻想之城"), ("GameSize", "100,200"), ("GameDownloadLink", "http://h/g/a.exe,http://h/g/b.bin"),
        ("GameMd5", "0123456789abcdef0123456789abcdef,fedcba9876543210fedcba9876543210"), ("GameStart", "a.exe")]
    return ini([("GameConfig", game), ("DownLoader", downloader if downloader is not None else [
        ("NewVersion", "1.1.0.1010")]), ("Gardbox", gardbox or [])])


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="gd-gamecfg-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def random_file(self, name, size):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left = size
            while left:
                n = min(left, 1 << 22)
                f.write(os.urandom(n))
                left -= n
        return path

    def read_config_text(self):
        with open(self.path("c.ini"), "rb") as f:
            return f.read()[2:].decode("utf-16-le")

    def check(self, text_or_bytes):
        data = text_or_bytes if isinstance(text_or_bytes, bytes) else utf16(text_or_bytes)
        return run("check", self.write("check.ini", data))

    @staticmethod
    def lines(out):
        return [line.split("\t") for line in out.decode("utf-8").splitlines()]


class MakeTest(Scratch):
    def test_one_file_round_trip(self):
        setup = self.random_file("game/setup.exe", 123457)
        code, _, err = run("make", "--name", "幻想之城", "--base-url", "http://dl.example.invalid/g", "-o",
                           self.path("c.ini"), setup)
        self.assertEqual(code, 0, err)
        with open(self.path("c.ini"), "rb") as f:
            data = f.read()
        self.assertEqual(data[:2], b"\xff\xfe")
        text = data[2:].decode("utf-16-le")
        self.assertIn("GameName=幻想之城\r\n", text)
        self.assertNotIn("GameStart", text)
        code, out, err = run("check", self.path("c.ini"))
        self.assertEqual(code, 0, err)
        self.assertEqual(self.lines(out),
                         [["123457", "http://dl.example.invalid/g/setup.exe", tail_md5(setup), "setup.exe"]])

    def test_several_files_one_over_the_tail_limit(self):
        files = [self.random_file("g/setup.exe", 5000), self.random_file("g/data1.bin", TAIL + 4097),
                 self.random_file("g/data2.bin", 1)]
        code, _, err = run("make", "--name", "Game", "--base-url", "http://dl.example.invalid/g/", "--start",
                           "setup.exe", "--safecheck", "1", "--domain", "http://stats.example.invalid/s.php", "-o",
                           self.path("c.ini"), *files)
        self.assertEqual(code, 0, err)
        code, out, err = run("check", self.path("c.ini"))
        self.assertEqual(code, 0, err)
        expected = [[str(os.path.getsize(p)), "http://dl.example.invalid/g/" + os.path.basename(p), tail_md5(p),
                     os.path.basename(p)] for p in files]
        self.assertEqual(self.lines(out), expected)
        with open(files[1], "rb") as f:
            whole = hashlib.md5(f.read()).hexdigest()
        self.assertNotEqual(expected[1][2], whole, "a file over 50 MiB is listed by its tail only")
        text = self.read_config_text()
        self.assertIn("GameStart=setup.exe\r\n", text)
        self.assertIn("[Gardbox]\r\nsafecheck=1\r\nDomainName=http://stats.example.invalid/s.php\r\n", text)

    def test_companion_digest_is_filled_from_its_file(self):
        setup = self.random_file("setup.exe", 10)
        box = self.random_file("box/gbox.exe", 3000)
        code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--companion-link",
                           "http://h/box/gbox.exe", "--companion", box, "-o", self.path("c.ini"), setup)
        self.assertEqual(code, 0, err)
        self.assertIn("GardboxMd5=" + tail_md5(box) + "\r\n", self.read_config_text())
        code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--companion", self.path("none.exe"),
                           "-o", self.path("d.ini"), setup)
        self.assertEqual(code, 2)
        self.assertFalse(os.path.exists(self.path("d.ini")))

    def test_values_that_would_be_trimmed_or_unquoted_are_protected(self):
        setup = self.random_file("setup.exe", 10)
        code, _, err = run("make", "--name", " 幻想 ", "--install-tip", '"quoted"', "--base-url", "http://h/",
                           "-o", self.path("c.ini"), setup)
        self.assertEqual(code, 0, err)
        text = self.read_config_text()
        self.assertIn('GameName=" 幻想 "\r\n', text)
        self.assertIn('GardBoxInstallTip=""quoted""\r\n', text)

    def test_refuses_what_the_program_refuses(self):
        a = self.random_file("a.exe", 10)
        b = self.random_file("b.bin", 10)
        other_a = self.random_file("other/a.exe", 10)
        empty = self.write("empty.bin", b"")
        cases = {
            "no start": ([a, b], []),
            "start not among the files": ([a, b], ["--start", "c.exe"]),
            "device name": ([self.random_file("con.txt", 10)], []),
            "comma in a name": ([self.random_file("a,b.bin", 10)], []),
            "trailing dot": ([self.random_file("x.", 10)], []),
            "colon in a name": ([self.random_file("x:y.bin", 10)], []),
            "empty file": ([empty], []),
            "missing file": ([self.path("nothing.bin")], []),
            "same name twice": ([a, other_a], ["--start", "a.exe"]),
            "bad safecheck": ([a], ["--safecheck", "2"]),
            "unknown option": ([a], ["--colour", "red"]),
            "name of two lines": ([a], ["--game-version", "1\n2"]),
            "comma in the base": ([a], ["--base-url", "http://h/a,b/"]),
        }
        for what, (files, extra) in cases.items():
            with self.subTest(what):
                out_path = self.path("refused.ini")
                base = [] if "--base-url" in extra else ["--base-url", "http://h/g/"]
                code, out, err = run("make", "--name", "G", *base, *extra, "-o", out_path, *files)
                self.assertEqual(code, 2, what)
                self.assertIn("gamecfg: error:", err)
                self.assertFalse(os.path.exists(out_path), "nothing is written when refused")


class Meta4Test(Scratch):
    def test_manifest_beside_each_file_with_mirrors(self):
        import xml.etree.ElementTree as ET
        ns = "{urn:ietf:params:xml:ns:metalink}"
        for size in (1, (4 << 20) * 2 + 5):
            path = self.random_file("g/f%d.bin" % size, size)
            code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--mirror", "http://m1/a",
                               "--mirror", "https://m2/b/", "-o", self.path("c.ini"), path)
            self.assertEqual(code, 0, err)
            with open(path, "rb") as f:
                data = f.read()
            doc = ET.parse(path + ".meta4").getroot().find(ns + "file")
            self.assertEqual(doc.get("name"), os.path.basename(path))
            self.assertEqual(int(doc.find(ns + "size").text), size)
            self.assertEqual(doc.find(ns + "hash").text, hashlib.sha256(data).hexdigest())
            pieces = doc.find(ns + "pieces")
            n = int(pieces.get("length"))
            self.assertEqual(n, 4 << 20)
            self.assertEqual([h.text for h in pieces], [hashlib.sha256(data[i:i + n]).hexdigest()
                                                         for i in range(0, size, n)])
            self.assertEqual([u.text for u in doc.findall(ns + "url")],
                             ["http://m1/a/" + os.path.basename(path), "https://m2/b/" + os.path.basename(path)])

    def test_no_meta4_writes_none(self):
        path = self.random_file("g/x.bin", 10)
        code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--no-meta4", "-o", self.path("c.ini"),
                           path)
        self.assertEqual(code, 0, err)
        self.assertFalse(os.path.exists(path + ".meta4"))
        code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--no-meta4", "--mirror", "http://m/",
                           "-o", self.path("c.ini"), path)
        self.assertEqual(code, 2)

    def test_no_peers_writes_peer_sharing_0_and_check_accepts_it(self):
        path = self.random_file("g/x.bin", 10)
        for extra, expected in (((), None), (("--no-peers",), "PeerSharing=0")):
            code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--no-meta4", *extra,
                               "-o", self.path("c.ini"), path)
            self.assertEqual(code, 0, err)
            with open(self.path("c.ini"), "rb") as f:
                text = f.read().decode("utf-16")
            self.assertEqual("PeerSharing=0" in text, expected is not None, text)
            code, _, err = run("check", self.path("c.ini"))
            self.assertEqual((code, err), (0, ""))


class CheckTest(Scratch):
    def test_parallel_lists_and_first_item_rule(self):
        code, out, err = self.check(config())
        self.assertEqual(code, 0, err)
        self.assertEqual(self.lines(out), [
            ["100", "http://h/g/a.exe", "0123456789abcdef0123456789abcdef", "a.exe"],
            ["200", "http://h/g/b.bin", "fedcba9876543210fedcba9876543210", "b.bin"]])
        self.assertEqual(err, "")

    def test_short_link_list_stays_for_the_last_entry(self):
        code, out, err = self.check(config(game=[("GameName", "G"), ("GameSize", "100,200,300"),
                                                 ("GameDownloadLink", "a"), ("GameStart", "a")]))
        self.assertEqual(self.lines(out), [["100", "", "", ""], ["200", "", "", ""], ["300", "a", "", "a"]])
        self.assertEqual(code, 1, "the first entry has no link, so the program refuses")
        self.assertIn("first file", err)

    def test_missing_keys_are_named(self):
        one = [("GameName", "G"), ("GameSize", "5"), ("GameDownloadLink", "http://h/s.exe")]
        code, out, err = self.check(config(game=one))
        self.assertEqual((code, self.lines(out)), (0, [["5", "http://h/s.exe", "", "s.exe"]]), err)
        code, out, err = self.check(config(game=one, downloader=[("NewVersionDownloaderLink", "http://x/")]))
        self.assertEqual(code, 1)
        self.assertIn("NewVersion", err)
        self.assertEqual(len(self.lines(out)), 1, "the list is shown although the program refuses later")
        code, out, err = self.check(config(game=[("GameName", "G"), ("GameSize", "5,6"),
                                                 ("GameDownloadLink", "http://h/s.exe,http://h/t.bin")]))
        self.assertEqual((code, len(self.lines(out))), (1, 2))
        self.assertIn("GameStart", err)
        code, out, err = self.check(config(game=one[1:]))
        self.assertEqual((code, out), (1, b""))
        self.assertIn("GameName", err)

    def test_unsafe_file_name_is_refused_and_named(self):
        code, out, err = self.check(config(game=[("GameName", "G"), ("GameSize", "5"),
                                                 ("GameDownloadLink", "http://h/g/CON")]))
        self.assertEqual(code, 1)
        self.assertEqual(self.lines(out), [["5", "http://h/g/CON", "", "CON"]])
        self.assertIn('"CON"', err)

    def test_names_that_would_leave_their_folder_are_refused_with_the_reason(self):
        two = [("GameName", "G"), ("GameSize", "5,6"),
               ("GameDownloadLink", "http://cdn/g/a.exe?token=xy,http://cdn/g/b.bin#part")]
        code, out, err = self.check(config(game=two + [("GameStart", "a.exe")]))
        self.assertEqual((code, self.lines(out)[0][3], self.lines(out)[1][3]), (0, "a.exe", "b.bin"), err)
        code, _, err = self.check(config(game=two + [("GameStart", ".\\a.exe")]))
        self.assertEqual(code, 0, err)
        code, _, err = self.check(config(game=two + [("GameStart", "..\\..\\evil.exe")]))
        self.assertEqual(code, 1)
        self.assertIn("GameStart", err)
        self.assertIn("refuses", err)
        # A companion that would leave its folder is dropped with a warning.
        code, _, err = self.check(config(game=two + [("GameStart", "a.exe")],
                                         gardbox=[("GardboxDownloaderLink", "http://h/x\\..\\run.exe")]))
        self.assertEqual(code, 0, err)
        self.assertIn("GardboxDownloaderLink", err)
        self.assertIn("no companion", err)

    def test_profile_rules(self):
        text = ("\r\n[gameconfig]\r\n  gamename =  \"G\"  \r\nGameName=second\r\nGAMESIZE= 7 \r\n"
                "gamedownloadlink=http://h/x.bin\r\n[DOWNLOADER]\r\nnewversion=1.1.0.1010\r\n")
        code, out, err = self.check(text)
        self.assertEqual((code, self.lines(out)), (0, [["7", "http://h/x.bin", "", "x.bin"]]), err)
        self.assertIn("GameName appears again", err)

    def test_encodings(self):
        text = config()
        code, out, err = self.check(text.encode("utf-8"))
        self.assertEqual(code, 0)
        self.assertIn("code page", err)
        code, _, err = self.check(text.replace("幻想之城", "G").encode("ascii"))
        self.assertEqual((code, err), (0, ""))
        code, _, err = self.check(b"\xef\xbb\xbf" + text.encode("utf-8"))
        self.assertEqual(code, 1, "the mark hides [GameConfig] on line 1 from Windows")
        self.assertIn("byte-order mark", err)
        self.assertIn("GameName", err)
        code, _, err = self.check(b"\xef\xbb\xbf\r\n" + text.encode("utf-8"))
        self.assertEqual(code, 0, err)
        code, _, err = self.check(b"\xfe\xff" + text.encode("utf-16-be"))
        self.assertEqual(code, 2)
        self.assertIn("big-endian", err)

    def test_warnings_do_not_change_the_answer(self):
        code, _, err = self.check(config(
            game=[("GameName", "G"), ("GameSize", "1,2"), ("GameDownloadLink", "http://h/a.exe,http://h/b.bin"),
                  ("GameMd5", "0123456789ABCDEF0123456789ABCDEF"), ("GameStart", "setup.exe")],
            gardbox=[("safecheck", "1")], downloader=[("NewVersion", "9.9.9.9999")]))
        self.assertEqual(code, 0, err)
        for expected in ("not 32 lower-case", "no MD5 text while safecheck is 1", "GameStart \"setup.exe\"",
                         "NewVersion", "differ in length"):
            self.assertIn(expected, err)

    def test_unreadable_file(self):
        code, out, err = run("check", self.path("none.ini"))
        self.assertEqual((code, out), (2, b""))
        self.assertIn("cannot read", err)


class Md5Test(Scratch):
    def test_tail_rule_at_the_limit(self):
        exact = self.random_file("exact.bin", TAIL)
        over = self.random_file("over.bin", TAIL + 1)
        for path in (exact, over):
            code, out, _ = run("md5", path)
            self.assertEqual((code, out.decode()), (0, tail_md5(path) + "\n"))
        with open(over, "rb") as f:
            self.assertNotEqual(hashlib.md5(f.read()).hexdigest(), tail_md5(over))

    def test_empty_and_missing_give_zeros(self):
        code, out, _ = run("md5", self.write("empty.bin", b""))
        self.assertEqual((code, out.decode()), (0, MD5_OF_NOTHING + "\n"))
        code, out, err = run("md5", self.path("missing.bin"))
        self.assertEqual((code, out.decode()), (1, MD5_OF_NOTHING + "\n"))
        self.assertIn("cannot read", err)

    def test_huge_sparse_file_reads_only_its_tail(self):
        path = self.path("huge.bin")
        size = (6 << 30) + 77
        with open(path, "wb") as f:
            f.truncate(size - 5)
            f.seek(size - 5)
            f.write(b"tail!")
        expected = hashlib.md5(b"\0" * (TAIL - 5) + b"tail!").hexdigest()
        code, out, _ = run("md5", path)
        self.assertEqual((code, out.decode()), (0, expected + "\n"))


class VerifyTest(Scratch):
    def make_game(self, *extra):
        # Without manifests unless asked: the configuration's MD5 texts alone.
        extra = extra or ("--no-meta4",)
        game = self.path("game")
        files = [self.random_file("game/setup.exe", 3000), self.random_file("game/big.bin", TAIL + 100000)]
        code, _, err = run("make", "--name", "G", "--base-url", "http://h/", "--start", "setup.exe", "-o",
                           self.path("c.ini"), *extra, *files)
        self.assertEqual(code, 0, err)
        return game, files

    def verify(self, game):
        code, out, err = run("verify", self.path("c.ini"), game)
        return code, [line[:2] for line in self.lines(out)], err

    @staticmethod
    def flip(path, offset):
        with open(path, "r+b") as f:
            f.seek(offset)
            byte = f.read(1)
            f.seek(offset)
            f.write(bytes([byte[0] ^ 0x40]))

    def test_finds_changes_inside_the_tail_only(self):
        game, (setup, big) = self.make_game()
        self.assertEqual(self.verify(game)[:2], (0, [["ok", "setup.exe"], ["ok", "big.bin"]]))
        self.flip(big, 99999)  # before the last 50 MiB: not looked at
        self.assertEqual(self.verify(game)[:2], (0, [["ok", "setup.exe"], ["ok", "big.bin"]]))
        self.flip(big, 100000)  # first byte of the tail
        self.assertEqual(self.verify(game)[:2], (1, [["ok", "setup.exe"], ["md5", "big.bin"]]))
        self.flip(big, 100000)
        self.flip(big, TAIL + 99999)  # last byte
        self.assertEqual(self.verify(game)[0], 1)
        self.flip(big, TAIL + 99999)
        self.flip(setup, 0)
        self.assertEqual(self.verify(game)[:2], (1, [["md5", "setup.exe"], ["ok", "big.bin"]]))

    def test_missing_and_wrong_size(self):
        game, (setup, big) = self.make_game()
        os.unlink(setup)
        with open(big, "ab") as f:
            f.write(b"x")
        code, lines, _ = self.verify(game)
        self.assertEqual((code, lines), (1, [["missing", "setup.exe"], ["size", "big.bin"]]))

    def test_with_manifests_every_piece_counts_and_the_first_bad_one_is_named(self):
        game, (setup, big) = self.make_game("--mirror", "http://m1/g")
        code, out, err = run("verify", self.path("c.ini"), game)
        self.assertEqual(code, 0, err)
        self.assertEqual(self.lines(out)[1], ["ok", "big.bin", "every piece matches big.bin.meta4"])
        self.flip(big, 99999)  # before the tail, which the MD5 text does not cover
        code, out, _ = run("verify", self.path("c.ini"), game)
        self.assertEqual(code, 1)
        self.assertEqual(self.lines(out)[1], ["pieces", "big.bin", "piece 0 (bytes 0-%d) differs" % ((4 << 20) - 1)])
        self.flip(big, 99999)
        self.flip(setup, 2999)
        self.flip(setup, 3)
        code, out, _ = run("verify", self.path("c.ini"), game)
        self.assertEqual(self.lines(out)[0][:2], ["md5", "setup.exe"])  # the MD5 text first, as before
        with open(big + ".meta4", "wb") as f:
            f.write(b"<metalink")
        code, out, _ = run("verify", self.path("c.ini"), game)
        self.assertEqual(self.lines(out)[1][:2], ["pieces", "big.bin"])
        self.assertIn("not well-formed", self.lines(out)[1][2])

    def test_refused_configuration_verifies_nothing(self):
        game, _ = self.make_game()
        self.write("c.ini", utf16(config(downloader=[])))
        code, lines, err = self.verify(game)
        self.assertEqual((code, lines), (1, []))
        self.assertIn("NewVersion", err)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[1:], verbosity=2)
