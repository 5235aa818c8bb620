"""brand.exe under Wine: stamping a copy, and refusing bad values without touching it."""
import hashlib
import os
import shutil

import harness


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class BrandTest(harness.WineServerTestCase):
    def copy(self, name):
        target = os.path.join(self.folder, name)
        shutil.copyfile(harness.exe("config_probe.exe"), target)
        return target

    def probe_header(self, program):
        code, out = self.wine.run(program, "--runs", "0")
        self.assertEqual(code, 0)
        return dict(line.split(" ", 1) for line in out.splitlines() if " " in line)

    def test_stamps_key_and_server(self):
        program = self.copy("stamped.exe")
        before = self.probe_header(program)
        self.assertEqual(before["key"], "{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}")  # the build's default
        self.assertEqual(before["url"], "http://down.brenva.com/tool/muldown/{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}.html")
        code, _ = self.wine.run(harness.exe("brand.exe"), harness.winpath(program), "--game-key", "{K-1}",
                                "--server", "http://10.1.2.3:8080/cdn/tool/muldown/")
        self.assertEqual(code, 0)
        after = self.probe_header(program)
        self.assertEqual(after["key"], "{K-1}")
        self.assertEqual(after["url"], "http://10.1.2.3:8080/cdn/tool/muldown/{K-1}.html")
        self.assertEqual(after["version"], "1.1.0.1010")
        # Stamping again replaces rather than adds.
        code, _ = self.wine.run(harness.exe("brand.exe"), harness.winpath(program), "--game-key", "{K-2}")
        self.assertEqual(code, 0)
        again = self.probe_header(program)
        self.assertEqual((again["key"], again["url"]), ("{K-2}", "http://10.1.2.3:8080/cdn/tool/muldown/{K-2}.html"))
        code, _ = self.wine.run(harness.exe("brand.exe"), harness.winpath(program), "--server",
                                "HTTPS://localhost:8443/tool/muldown/")
        self.assertEqual(code, 0)
        self.assertEqual(self.probe_header(program)["url"], "https://localhost:8443/tool/muldown/{K-2}.html")

    def test_refuses_bad_values_and_leaves_the_file_alone(self):
        program = self.copy("refused.exe")
        original = digest(program)
        for args in (["--server", "ftp://h/tool/muldown/"], ["--server", "http://h/other/"], ["--game-key", ""],
                     [], ["--game-key", "a\tb"]):
            code, _ = self.wine.run(harness.exe("brand.exe"), harness.winpath(program), *args)
            self.assertEqual(code, 2, args)
            self.assertEqual(digest(program), original, args)
        code, _ = self.wine.run(harness.exe("brand.exe"), harness.winpath(os.path.join(self.folder, "absent.exe")),
                                "--game-key", "{X}")
        self.assertEqual(code, 1)
