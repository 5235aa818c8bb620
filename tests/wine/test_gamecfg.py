"""gamecfg.exe under Wine: check agrees with the program's own reading of the
same configuration, and md5/verify use the program's file check."""
import hashlib
import os
import subprocess

import harness

KEY = "{5B2E8F31-7C4A-4D19-9E6B-0A3F2C1D8E47}"
TAIL = 52428800


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def tail_md5(path):
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        f.seek(max(0, size - TAIL))
        return hashlib.md5(f.read()).hexdigest()


BASE = ("[GameConfig]\r\nGameName=幻想之城\r\nGameSize=1000,2000\r\n"
        "GameDownloadLink=http://h/g/setup.exe,http://h/g/data.bin\r\n"
        "GameMd5=0123456789abcdef0123456789abcdef,fedcba9876543210fedcba9876543210\r\nGameStart=setup.exe\r\n"
        "[DownLoader]\r\nNewVersion=1.1.0.1010\r\n")

# Configurations on which the tool and the program must agree, entry for entry.
CASES = {
    "plain": utf16(BASE),
    "names in other case, blanks, quotes, repeats": utf16(
        "\r\n[gameconfig]\r\n  gamename =  \"G\"  \r\nGAMESIZE= 7 ,8\r\nGameSize=9\r\n"
        "gamedownloadlink= 'http://h/x.bin,http://h/y.bin' \r\ngamestart=x.bin\r\n"
        "[DOWNLOADER]\r\nnewversion=1.1.0.1010\r\n[GameConfig]\r\nGameMd5=ignored\r\n"),
    "missing NewVersion": utf16(BASE.replace("NewVersion=1.1.0.1010\r\n", "")),
    "missing GameStart": utf16(BASE.replace("GameStart=setup.exe\r\n", "")),
    "short link list": utf16(BASE.replace("http://h/g/setup.exe,http://h/g/data.bin", "a")),
    "ascii without a mark": BASE.replace("幻想之城", "Fantasy").encode("ascii"),
}


def parse_probe(out):
    result, files = None, []
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        if word == "result":
            result = int(rest)
        elif word == "file":
            size, link, md5 = rest.split("|")
            files.append([size, link, md5])
    return result, files


class GamecfgUnderWineTest(harness.WineServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.probe = harness.branded_copy(harness.exe("config_probe.exe"), cls.folder, game_key=KEY,
                                         server=cls.server_base, wine=cls.wine)
        cls.gamecfg = harness.exe("gamecfg.exe")

    def gamecfg_run(self, *args):
        proc = subprocess.run(["wine", self.gamecfg] + list(args), env=self.wine.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=300)
        return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8", "replace")

    def write(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_check_agrees_with_the_program(self):
        for what, data in CASES.items():
            with self.subTest(what):
                self.server.add("/tool/muldown/%s.html" % KEY, body=data)
                code, out = self.wine.run(self.probe)
                self.assertEqual(code, 0, out)
                result, program_files = parse_probe(out)
                tool_code, tool_out, err = self.gamecfg_run("check", harness.winpath(self.write("c.ini", data)))
                tool_files = [line.split("\t")[:3] for line in tool_out.splitlines()]
                if result == 5:
                    self.assertEqual(tool_files, program_files, err)
                    size, link, _ = program_files[0]
                    # The start-up window's rule for the first item comes after the parse.
                    usable = size != "0" and link.rpartition("/")[2] != ""
                    self.assertEqual(tool_code, 0 if usable else 1, err)
                else:
                    self.assertEqual(result, 1, out)
                    self.assertEqual(tool_code, 1, err)
                    self.assertIn("is missing", err)

    def test_md5_and_verify_with_the_programs_file_check(self):
        game = os.path.join(self.folder, "game")
        os.makedirs(game, exist_ok=True)
        setup = os.path.join(game, "setup.exe")
        big = os.path.join(game, "big.bin")
        with open(setup, "wb") as f:
            f.write(os.urandom(4000))
        with open(big, "wb") as f:
            f.write(os.urandom(TAIL + 3))
        code, out, err = self.gamecfg_run("md5", harness.winpath(big))
        self.assertEqual((code, out), (0, tail_md5(big) + "\n"), err)

        config = os.path.join(self.folder, "made.ini")
        code, _, err = self.gamecfg_run("make", "--name", "幻想之城", "--base-url", "http://h/g/", "--start",
                                        "setup.exe", "-o", harness.winpath(config), harness.winpath(setup),
                                        harness.winpath(big))
        self.assertEqual(code, 0, err)
        code, out, err = self.gamecfg_run("verify", harness.winpath(config), harness.winpath(game))
        # make wrote a manifest beside each file (SHA-256 through CNG here), and
        # verify checked every piece against it.
        self.assertEqual((code, out), (0, "ok\tsetup.exe\tevery piece matches setup.exe.meta4\n"
                                          "ok\tbig.bin\tevery piece matches big.bin.meta4\n"), err)
        with open(big, "r+b") as f:
            f.seek(TAIL)
            byte = f.read(1)
            f.seek(TAIL)
            f.write(bytes([byte[0] ^ 1]))
        code, out, err = self.gamecfg_run("verify", harness.winpath(config), harness.winpath(game))
        self.assertEqual(code, 1)
        self.assertTrue(out.startswith("ok\tsetup.exe\tevery piece matches setup.exe.meta4\n"
                                       "md5\tbig.bin\t"), out)

    def test_md5_of_a_file_beyond_four_gigabytes(self):
        path = os.path.join(self.folder, "huge.bin")
        size = (4 << 30) + 99
        with open(path, "wb") as f:
            f.truncate(size - 5)
            f.seek(size - 5)
            f.write(b"tail!")
        try:
            code, out, err = self.gamecfg_run("md5", harness.winpath(path))
        finally:
            os.unlink(path)
        self.assertEqual((code, out), (0, hashlib.md5(b"\0" * (TAIL - 5) + b"tail!").hexdigest() + "\n"), err)
