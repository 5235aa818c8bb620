"""CDownloaderConfig::Initialize under Wine: fetching, parsing, skin picture, temp files."""
import os
import time
import unittest

import harness

KEY = "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}"


def ini_text(sections):
    lines = []
    for section, values in sections.items():
        lines.append("[%s]" % section)
        lines += ["%s=%s" % kv for kv in values.items()]
    return "\r\n".join(lines) + "\r\n"


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def base_config(**extra):
    config = {
        "GameConfig": {"GameName": "幻想之城", "GameSize": "1000,2000",
                       "GameDownloadLink": "http://h/g/setup.exe,http://h/g/data.bin",
                       "GameMd5": "0123456789abcdef0123456789abcdef,fedcba9876543210fedcba9876543210",
                       "GameStart": "setup.exe"},
        "DownLoader": {"NewVersion": "1.1.0.1010"},
        "Gardbox": {"DomainName": "http://stats.example.invalid/s.php"},
    }
    for section, values in extra.items():
        config.setdefault(section, {}).update(values)
    return config


def parse(out):
    runs, current = [], None
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        if word == "run":
            current = {"files": [], "progress": [], "initnotify": []}
            runs.append(current)
        elif current is None:
            continue
        elif word == "file":
            size, link, md5 = rest.split("|")
            current["files"].append((int(size), link, md5))
        elif word == "progress":
            current["progress"].append(tuple(int(x) for x in rest.split()))
        elif word == "initnotify":
            current["initnotify"].append(tuple(int(x) for x in rest.split()))
        else:
            current[word] = rest
    header = {}
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        if word == "run":
            break
        header[word] = rest
    return header, runs


class ConfigTest(harness.WineServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.probe_exe = harness.branded_copy(harness.exe("config_probe.exe"), cls.folder, game_key=KEY,
                                             server=cls.server_base, wine=cls.wine)
        cls.config_path = "/tool/muldown/%s.html" % KEY

    def setUp(self):
        super().setUp()
        for suffix in (".png", ".cfg"):
            path = os.path.join(self.wine.temp_dir(), KEY + suffix)
            if os.path.exists(path):
                os.unlink(path)

    def serve_config(self, config, encode=utf16, **options):
        self.server.add(self.config_path, body=encode(ini_text(config)), **options)

    def run_probe(self, *args):
        code, out = self.wine.run(self.probe_exe, *args)
        self.assertEqual(code, 0, out)
        return parse(out)

    def paths_requested(self):
        return [r["path"] for r in self.server.requests()]

    def test_identity_and_paths(self):
        self.server.remove(self.config_path)
        header, _ = self.run_probe("--runs", "0")
        self.assertEqual(header["key"], KEY)
        self.assertEqual(header["version"], "1.1.0.1010")
        self.assertEqual(header["url"], "http://127.0.0.1:%d/tool/muldown/%s.html" % (self.server.port, KEY))
        self.assertTrue(header["engine"].endswith("\\" + KEY + "TarnP2SP.dll"), header["engine"])
        self.assertTrue(header["identity"].endswith("\\" + KEY + "Tarnverify.dll"), header["identity"])

    def test_config_not_fetched_gives_0(self):
        self.server.remove(self.config_path)
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "0")
        self.assertEqual(runs[0]["cfg_exists"], "0")
        self.assertEqual(self.paths_requested(), [self.config_path])

    def test_silent_server_gives_0_after_the_receive_timeout(self):
        self.serve_config(base_config(), delay=9)
        started = time.time()
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "0")
        self.assertEqual(runs[0]["cfg_exists"], "0")
        self.assertLess(time.time() - started, 8.5)

    def test_missing_new_version_gives_1(self):
        config = base_config()
        del config["DownLoader"]["NewVersion"]
        self.serve_config(config)
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "1")
        self.assertEqual(runs[0]["cfg_exists"], "0")
        self.assertEqual(runs[0]["GameName"], "幻想之城")  # read before the missing key

    def test_parsed_without_skin_gives_5_with_one_request(self):
        self.serve_config(base_config())
        _, runs = self.run_probe()
        run = runs[0]
        self.assertEqual(run["result"], "5")
        self.assertEqual(run["cfg_exists"], "0")
        self.assertEqual(run["skin_path"], "")
        self.assertEqual(run["GameName"], "幻想之城")
        self.assertEqual(run["GameStart"], "setup.exe")
        self.assertEqual(run["NewVersionDownloaderLink"], "http://www.brenva.com/downloader/")
        self.assertEqual(run["files"], [(1000, "http://h/g/setup.exe", "0123456789abcdef0123456789abcdef"),
                                        (2000, "http://h/g/data.bin", "fedcba9876543210fedcba9876543210")])
        self.assertEqual(self.paths_requested(), [self.config_path])

    def test_ansi_config_is_read_too(self):
        config = base_config()
        config["GameConfig"]["GameName"] = "Fantasy City"
        self.serve_config(config, encode=lambda t: t.encode("ascii"))
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "5")
        self.assertEqual(runs[0]["GameName"], "Fantasy City")

    def test_skin_fetched_gives_5_and_progress_20_to_40(self):
        skin = os.urandom(30000)
        self.server.add("/skin/bk.png", body=skin)
        self.serve_config(base_config(DownLoader={"SkinLink": self.server.url("/skin/bk.png")}))
        _, runs = self.run_probe()
        run = runs[0]
        self.assertEqual(run["result"], "5")
        self.assertTrue(run["skin_path"].endswith("\\" + KEY + ".png"))
        with open(os.path.join(self.wine.temp_dir(), KEY + ".png"), "rb") as f:
            self.assertEqual(f.read(), skin)
        # The configuration arrives in one block (position 20); the skin's
        # 30 blocks report after blocks 1, 11 and 21.
        self.assertLess(len(utf16(ini_text(base_config()))) + 200, 1024)
        expected = [20, 20 + 1024 * 20 // 30000, 20 + 11264 * 20 // 30000, 20 + 21504 * 20 // 30000]
        self.assertEqual(run["initnotify"], [(p, 5) for p in expected])

    def test_skin_without_length_reports_position_0(self):
        self.server.add("/skin/nolen.png", body=os.urandom(20000), content_length=False)
        self.serve_config(base_config(DownLoader={"SkinLink": self.server.url("/skin/nolen.png")}))
        _, runs = self.run_probe()
        skin_events = [e for e in runs[0]["progress"] if e[3] == 2 and e[0] == 5]
        self.assertEqual(len(skin_events), 2)  # blocks 1 and 11 of 20 blocks
        self.assertTrue(all(e[2] == 0 for e in skin_events))
        self.assertEqual(runs[0]["initnotify"][-2:], [(0, 5), (0, 5)])

    def test_skin_not_fetched_gives_2_and_no_file(self):
        self.serve_config(base_config(DownLoader={"SkinLink": self.server.url("/skin/absent.png")}))
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "2")
        self.assertEqual(runs[0]["skin_exists"], "0")
        self.assertEqual(runs[0]["cfg_exists"], "0")

    def test_skin_reused_within_48_hours(self):
        self.server.add("/skin/cached.png", body=b"\x89PNG-cached")
        self.serve_config(base_config(DownLoader={"SkinLink": self.server.url("/skin/cached.png")}))
        for hours, expected_fetches in ((47, 1), (49, 2)):
            self.setUp()
            _, runs = self.run_probe("--runs", "2", "--age-skin-hours", str(hours))
            self.assertEqual([r["result"] for r in runs], ["5", "5"])
            fetches = self.paths_requested().count("/skin/cached.png")
            self.assertEqual(fetches, expected_fetches, "skin written %d hours ago" % hours)
            self.assertEqual(self.paths_requested().count(self.config_path), 2)

    def test_retry_does_not_double_the_file_list(self):
        self.serve_config(base_config())
        _, runs = self.run_probe("--runs", "2")
        self.assertEqual(len(runs[0]["files"]), 2)
        self.assertEqual(runs[1]["files"], runs[0]["files"])

    def test_long_link_list_is_read_whole(self):
        links = ",".join("http://download.example.com/games/a-long-folder/part%03d.bin" % i for i in range(200))
        sizes = ",".join(str(1000 + i) for i in range(200))
        self.assertGreater(len(links), 4096)
        self.serve_config(base_config(GameConfig={"GameSize": sizes, "GameDownloadLink": links, "GameMd5": ""}))
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "5")
        self.assertEqual(len(runs[0]["files"]), 200)
        self.assertEqual(runs[0]["files"][-1], (1199, "http://download.example.com/games/a-long-folder/part199.bin", ""))

    def test_file_name_escaping_the_save_directory_gives_1(self):
        self.serve_config(base_config(GameConfig={
            "GameSize": "1", "GameDownloadLink": "http://h/g/..\\..\\evil.exe", "GameMd5": ""}))
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "1")
        self.assertEqual(runs[0]["files"], [])


    def test_values_leaving_their_folder_give_1_and_oversized_bodies_0(self):
        # A refused GameStart still leaves the report address read; a bad
        # companion name only drops the companion.
        for extra, result in (({"GameConfig": {"GameStart": "..\\..\\evil.exe"}}, "1"),
                              ({"Gardbox": {"GardboxDownloaderLink": "http://h/x\\..\\..\\evil.exe"}}, "5")):
            with self.subTest(extra):
                self.serve_config(base_config(**extra))
                _, runs = self.run_probe()
                self.assertEqual(runs[0]["result"], result)
                self.assertEqual(runs[0]["DomainName"], "http://stats.example.invalid/s.php")
        # A query after the file name is no part of it.
        self.serve_config(base_config(GameConfig={"GameSize": "5", "GameMd5": "",
                                                  "GameDownloadLink": "http://cdn/g/setup.exe?token=ab"}))
        _, runs = self.run_probe()
        self.assertEqual(runs[0]["result"], "5")
        self.server.add(self.config_path, body=utf16(ini_text(base_config())) + b"\0\0" * (1 << 19))
        _, runs = self.run_probe()
        self.assertEqual((runs[0]["result"], runs[0]["cfg_exists"]), ("0", "0"))


if __name__ == "__main__":
    unittest.main()
