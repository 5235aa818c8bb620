"""HTTPS under Wine against local servers whose certificates come from a test CA
trusted in the test prefix only: what verifies is fetched, what does not is
refused before a request is sent."""
import os
import urllib.parse
import unittest

import harness
import test_config
import test_end_to_end
import test_download_window
from test_http_client import parse_probe

KEY = "{6E21EF43-2B4C-4D9E-2F30-3B4C5D6E7F80}"
PROMPT_CLASS = "SomPromptDlg"


class HttpsTest(harness.WineServerTestCase):
    arch = "win32"

    @classmethod
    def make_server(cls):
        return harness.https_server(cls.wine)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.untrusted = harness.https_server(cls.wine, "untrusted")
        cls.wrong_name = harness.https_server(cls.wine, "wrong-name")

    @classmethod
    def tearDownClass(cls):
        cls.untrusted.stop()
        cls.wrong_name.stop()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.untrusted.clear_requests()
        self.wrong_name.clear_requests()

    def probe(self, url, name):
        path = os.path.join(self.folder, name)
        code, out = self.wine.run(harness.exe("http_probe.exe", self.arch), url, harness.winpath(path))
        self.assertEqual(code, 0, out)
        return parse_probe(out)[1], path

    def test_client_fetches_what_verifies_and_refuses_the_rest(self):
        body = os.urandom(5000)
        for server in (self.server, self.untrusted, self.wrong_name):
            server.add("/secure.bin", body=body)
        result, path = self.probe(self.server.url("/secure.bin"), "good.bin")
        self.assertEqual(result, 1)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), body)
        self.assertEqual([r["path"] for r in self.server.requests()], ["/secure.bin"])
        for server, name in ((self.untrusted, "untrusted"), (self.wrong_name, "wrong name")):
            with self.subTest(name):
                result, path = self.probe(server.url("/secure.bin"), name + ".bin")
                self.assertEqual(result, 0)
                self.assertEqual(os.path.getsize(path), 0)
                self.assertEqual(server.requests(), [], "nothing is sent over a connection that did not verify")

    def test_engine_fetches_what_verifies_and_refuses_the_rest(self):
        body = os.urandom(200 * 1024)
        for server in (self.server, self.untrusted, self.wrong_name):
            server.add("/game.bin", body=body)
        target = os.path.join(self.folder, "engine.bin")
        pdown = harness.exe("pdown.exe", self.arch)
        code, _ = self.wine.run(pdown, "--quiet", "--retries", "1", self.server.url("/game.bin"),
                                harness.winpath(target), timeout=120)
        self.assertEqual(code, 0)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), body)
        os.unlink(target)
        for server, name in ((self.untrusted, "untrusted"), (self.wrong_name, "wrong name")):
            with self.subTest(name):
                code, _ = self.wine.run(pdown, "--quiet", "--retries", "1", server.url("/game.bin"),
                                        harness.winpath(target), timeout=120)
                self.assertNotEqual(code, 0)
                self.assertFalse(os.path.exists(target))
                self.assertEqual(server.requests(), [])

    def test_configuration_and_skin_over_https(self):
        probe = harness.branded_copy(harness.exe("config_probe.exe"), os.path.join(self.folder, "probe"),
                                     game_key=KEY, server=self.server_base, wine=self.wine)
        self.assertTrue(self.server_base.startswith("https://localhost:"))
        skin = os.urandom(30000)
        self.server.add("/skin/bk.png", body=skin)
        config = test_config.base_config(DownLoader={"SkinLink": self.server.url("/skin/bk.png")})
        self.server.add("/tool/muldown/%s.html" % KEY, body=test_config.utf16(test_config.ini_text(config)))
        for suffix in (".png", ".cfg"):
            if os.path.exists(os.path.join(self.wine.temp_dir(), KEY + suffix)):
                os.unlink(os.path.join(self.wine.temp_dir(), KEY + suffix))
        code, out = self.wine.run(probe)
        self.assertEqual(code, 0, out)
        _, runs = test_config.parse(out)
        self.assertEqual(runs[0]["result"], "5")
        with open(os.path.join(self.wine.temp_dir(), KEY + ".png"), "rb") as f:
            self.assertEqual(f.read(), skin)

    def test_untrusted_certificate_fails_the_configuration_with_the_retry_prompt(self):
        key = "{7F32F054-3C5D-4EAF-3041-4C5D6E7F8091}"
        self.untrusted.add("/tool/muldown/%s.html" % key,
                           body=test_config.utf16(test_config.ini_text(test_config.base_config())))
        program = harness.branded_copy(harness.exe("GameDownloader.exe", self.arch),
                                       os.path.join(self.folder, "untrusted"), game_key=key,
                                       server=self.untrusted.url("/tool/muldown/"), wine=self.wine)
        proc = self.wine.start(program)
        try:
            code, _ = self.wine.driver("find", "--class", PROMPT_CLASS, "--timeout", "30000")
            self.assertEqual(code, 0, "the initialization-failed prompt with its retry button")
            self.assertEqual(self.untrusted.requests(), [])
            self.assertEqual(self.server.requests(), [])
            self.wine.driver("command", "--class", PROMPT_CLASS, "--id", "101", "--post")  # 关闭
            self.assertEqual(proc.wait(30), 0)
        finally:
            if proc.poll() is None:
                self.wine.kill_all()


class EndToEndHttpsTest(test_end_to_end.EndToEndTest):
    """The whole run over HTTPS: configuration, skin, companion, game files
    (through the engine's libcurl and the same system store) and reports."""
    skin = test_download_window.picture(680, 420)
    test_second_game_started_meanwhile_does_not_fetch_the_companion = None
    test_companion_that_differs_from_its_digest_is_not_run = None

    @classmethod
    def make_server(cls):
        return harness.https_server(cls.wine)

    def setUp(self):
        super().setUp()
        # A skin picture kept from an earlier run would not be fetched again.
        for name in os.listdir(self.temp):
            if name.startswith("{") and name.endswith(".png"):
                os.unlink(os.path.join(self.temp, name))

    def report_url(self):
        # The reports go over HTTPS too, to the test server.
        return self.server.url(test_end_to_end.STATS)

    def reports(self, key):
        found = []
        for r in self.server.requests():
            url = urllib.parse.urlsplit(r["path"])
            query = urllib.parse.parse_qs(url.query)
            if url.path == test_end_to_end.STATS and query.get("game") == [key]:
                found.append({k: v[0] for k, v in query.items()})
        return found

    def funnel(self, key):
        # The same count gdserver makes: distinct machines per milestone.
        reports = self.reports(key)
        def players(action, cg=None):
            return len({r.get("mid") for r in reports if r["action"] == action and (cg is None or r.get("cg") == cg)})
        return {"initial": players("1"), "start": players("2"), "complete": players("5", "1"),
                "failed": players("5", "0")}

    def test_companion_first_and_silently_then_the_game_with_its_reports(self):
        self.assertTrue(self.server_base.startswith("https://localhost:"))
        self.assertTrue(self.report_url().startswith("https://localhost:"))
        super().test_companion_first_and_silently_then_the_game_with_its_reports()
        self.assertIn("/skin.png", [r["path"] for r in self.server.requests()])


if __name__ == "__main__":
    unittest.main()
