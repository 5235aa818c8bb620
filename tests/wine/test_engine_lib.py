"""The packed DLLs under Wine: extraction of the engine at start-up, binding of
its exports, clean-up at exit, a missing or damaged engine resource, and the
identity DLL's GetCIDW."""
import os
import re
import shutil
import struct

import harness

TITLE = "Brenva网游戏下载器-%s专版"
ENGINE_TYPE = "DOWNLOAD_LIB"


def engine_dll_name():
    """The DLL this build packs into resource 120."""
    cache = os.path.join(harness.BUILD, "win32", "CMakeCache.txt")
    target = "engine_placeholder"
    with open(cache) as f:
        for line in f:
            if line.startswith("GD_ENGINE_DLL_TARGET:"):
                target = line.split("=", 1)[1].strip()
    return target + ".dll"


def config_for(name):
    text = ("[GameConfig]\r\nGameName=%s\r\nGameSize=1000\r\nGameDownloadLink=http://h.invalid/g/setup.exe\r\n"
            "[DownLoader]\r\nNewVersion=1.1.0.1010\r\n" % name)
    return b"\xff\xfe" + text.encode("utf-16-le")


def parse(out):
    values = {}
    for line in out.splitlines():
        word, _, rest = line.partition(" ")
        values[word] = rest
    return values


class EngineLibraryTest(harness.WineServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        with open(harness.exe(engine_dll_name()), "rb") as f:
            cls.engine_bytes = f.read()

    def probe_copy(self, key, subfolder):
        return harness.branded_copy(harness.exe("engine_probe.exe"), os.path.join(self.folder, subfolder),
                                    game_key=key, server=self.server_base, wine=self.wine)

    def temp_file(self, key, name):
        return os.path.join(self.wine.temp_dir(), key + name)

    def edit_resource(self, program, *args):
        code, out = self.wine.run(harness.exe("engine_probe.exe"), *args[:1], harness.winpath(program), *args[1:])
        self.assertEqual((code, out.strip()), (0, "edited"))

    def test_stale_copy_is_replaced_all_exports_bound_and_file_removed_at_exit(self):
        key = "{1D2E3F40-5162-4738-8495-A6B7C8D9E0F1}"
        probe = self.probe_copy(key, "bind")
        engine = self.temp_file(key, "TarnP2SP.dll")
        with open(engine, "wb") as f:
            f.write(b"stale copy from an earlier run")
        copy = os.path.join(self.folder, "bind", "seen.dll")
        code, out = self.wine.run(probe, "instance", "--copy-to", harness.winpath(copy))
        values = parse(out)
        self.assertEqual(code, 0, out)
        self.assertTrue(values["path"].endswith("\\%sTarnP2SP.dll" % key), values["path"])
        self.assertEqual(values["loaded"], "1", "all thirteen exports bound")
        self.assertEqual(values["exists"], "1")
        self.assertEqual(values["deletable"], "0", "the loaded engine is in use")
        self.assertEqual(values["copied"], "1")
        with open(copy, "rb") as f:
            self.assertEqual(f.read(), self.engine_bytes, "the extracted file is the engine DLL byte for byte")
        self.assertEqual((values["init"], values["seed"], values["uninit"]), ("1", "1", "1"))
        if engine_dll_name() == "engine_placeholder.dll":
            self.assertEqual((values["create"], values["state"], values["start"], values["stop"]),
                             ("0", "5", "0", "0"), "an engine with no tasks")
        self.assertFalse(os.path.exists(engine), "deleted at exit")

    def test_program_extracts_engine_at_startup_and_removes_it_at_exit(self):
        key = "{2E3F4051-6273-4849-95A6-B7C8D9E0F102}"
        program = harness.branded_copy(harness.exe("GameDownloader.exe"), os.path.join(self.folder, "program"),
                                       game_key=key, server=self.server_base, wine=self.wine)
        engine = self.temp_file(key, "TarnP2SP.dll")
        with open(engine, "wb") as f:
            f.write(b"stale")
        self.server.add("/tool/muldown/%s.html" % key, body=config_for("Engine"))
        proc = self.wine.start(program)
        try:
            code, _ = self.wine.driver("find", "--title", TITLE % "Engine", "--timeout", "20000")
            self.assertEqual(code, 0, "the program runs")
            with open(engine, "rb") as f:
                self.assertEqual(f.read(), self.engine_bytes, "extracted before the window came up")
            code, _ = self.wine.driver("command", "--title", TITLE % "Engine", "--id", "2026")
            self.assertEqual(code, 0)
            self.assertEqual(proc.wait(20), 0)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertTrue(harness.wait_until(lambda: not os.path.exists(engine), timeout=5), "deleted at exit")

    def test_without_engine_resource_nothing_is_called_and_program_still_starts(self):
        key = "{3F405162-7384-495A-A6B7-C8D9E0F10213}"
        probe = self.probe_copy(key, "missing")
        self.edit_resource(probe, "remove-resource", ENGINE_TYPE, "120")
        engine = self.temp_file(key, "TarnP2SP.dll")
        with open(engine, "wb") as f:
            f.write(b"stale")
        code, out = self.wine.run(probe, "instance")
        values = parse(out)
        self.assertEqual(code, 0, out)
        self.assertEqual(values["loaded"], "0")
        self.assertEqual(values["exists"], "0", "the stale copy was deleted and nothing written")
        # Every operation answers failure and a queried task reads as failed.
        for word in ("init", "seed", "create", "start", "stop", "uninit"):
            self.assertEqual(values[word], "0", word)
        self.assertEqual(values["state"], "5")

        program = harness.branded_copy(harness.exe("GameDownloader.exe"), os.path.join(self.folder, "missing"),
                                       game_key=key, server=self.server_base, wine=self.wine)
        self.edit_resource(program, "remove-resource", ENGINE_TYPE, "120")
        self.server.add("/tool/muldown/%s.html" % key, body=config_for("NoEngine"))
        proc = self.wine.start(program)
        try:
            code, _ = self.wine.driver("find", "--title", TITLE % "NoEngine", "--timeout", "20000")
            self.assertEqual(code, 0, "the program starts without its engine")
            self.assertFalse(os.path.exists(engine))
            self.assertEqual(self.wine.driver("command", "--title", TITLE % "NoEngine", "--id", "2026")[0], 0)
            self.assertEqual(proc.wait(20), 0)
        finally:
            if proc.poll() is None:
                proc.kill()

    def test_damaged_engine_resource_is_not_loaded(self):
        key = "{40516273-8495-4A6B-B7C8-D9E0F1021324}"
        cases = {
            "zero length": struct.pack("<I", 0) + bytes(range(200)),
            "too long for its stream": struct.pack("<I", 64 * 200 + 65) + bytes(200),
            "cut short": struct.pack("<I", len(self.engine_bytes)) + bytes(range(256)) * 4,
        }
        engine = self.temp_file(key, "TarnP2SP.dll")
        for name, data in cases.items():
            with self.subTest(name):
                probe = self.probe_copy(key, "damaged-%d" % len(name))
                blob = os.path.join(self.folder, "blob.bin")
                with open(blob, "wb") as f:
                    f.write(data)
                self.edit_resource(probe, "replace-resource", ENGINE_TYPE, "120", harness.winpath(blob))
                code, out = self.wine.run(probe, "instance")
                values = parse(out)
                self.assertEqual(code, 0, out)
                self.assertEqual((values["loaded"], values["exists"], values["create"]), ("0", "0", "0"))
                self.assertFalse(os.path.exists(engine))

    def test_identity_dll_answers_the_same_identifier_twice(self):
        key = "{51627384-95A6-4B7C-C8D9-E0F102132435}"
        probe = self.probe_copy(key, "cid")
        outs = []
        for _ in range(2):
            code, out = self.wine.run(probe, "cid")
            self.assertEqual(code, 0, out)
            outs.append(parse(out))
        first = outs[0]
        self.assertEqual((first["extract"], first["module"], first["export"]), ("1", "1", "1"))
        result, cid = first["cid1"].split(" ")
        self.assertEqual(result, "1")
        self.assertRegex(cid, r"^[0-9a-f]{32}$")
        self.assertEqual(first["cid2"], first["cid1"])
        self.assertEqual(outs[1]["cid1"], first["cid1"], "the same in a later run")
        self.assertEqual(first["small"], "0 1", "a buffer too small for the identifier is refused untouched")
        self.assertEqual(first["left"], "0")
        self.assertFalse(os.path.exists(self.temp_file(key, "Tarnverify.dll")))
