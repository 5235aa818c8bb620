"""A configuration whose links point at local programs: nothing runs and no page
opens outside the web-address rule."""
import os
import time
import unittest

import harness
import test_config
import test_download_window

PROMPT_CLASS = "SomPromptDlg"


class HostileConfigTest(test_download_window.DownloadWindowTest):
    key = "{8A43A165-4D6E-4FB0-4152-5D6E7F8091A2}"

    def setUp(self):
        super().setUp()
        # A program the links point at: it leaves "<path>.ran" if anything starts it.
        self.evil = os.path.join(self.folder, "evil", "evil.exe")
        os.makedirs(os.path.dirname(self.evil), exist_ok=True)
        with open(self.evil, "wb") as f:
            f.write(self.marker)
        if os.path.exists(self.evil + ".ran"):
            os.unlink(self.evil + ".ran")
        self.before = len(self.wine.opened_pages())

    def targets(self):
        if os.path.exists(self.evil + ".ran"):
            os.unlink(self.evil + ".ran")
        path = harness.winpath(self.evil)
        return [path, "file:///" + path.replace("\\", "/")]

    def assert_nothing_ran_or_opened(self, what):
        time.sleep(3)
        ran = os.path.exists(self.evil + ".ran")
        if ran:
            os.unlink(self.evil + ".ran")  # so that the next case is judged on its own
        self.assertFalse(ran, "%s started the program" % what)
        self.assertEqual(self.wine.opened_pages()[self.before:], [], what)

    def test_promotion_link_to_a_local_program_opens_nothing(self):
        for target in self.targets():
            with self.subTest(target):
                self.serve_game([("game.exe", os.urandom(1000), {})], promotion=target)
                proc, _ = self.start_program()
                self.command(19)
                self.assert_nothing_ran_or_opened(target)
                self.close_program(proc)

    def test_new_version_link_to_a_local_program_opens_nothing(self):
        # A host name without a scheme is a web page, the rest stays refused.
        for target in self.targets() + ["www.example.com/dl/new.html"]:
            with self.subTest(target):
                config = test_config.base_config(DownLoader={"NewVersion": "9.9.9.9",
                                                             "NewVersionDownloaderLink": target})
                self.server.add("/tool/muldown/%s.html" % self.key,
                                body=test_config.utf16(test_config.ini_text(config)))
                proc = self.wine.start(self.program)
                self.procs.append(proc)
                code, _ = self.wine.driver("find", "--class", PROMPT_CLASS, "--timeout", "30000")
                self.assertEqual(code, 0, "the older-version prompt")
                self.wine.driver("command", "--class", PROMPT_CLASS, "--id", "102", "--post")  # 下载
                if target.startswith("www."):
                    time.sleep(3)
                    self.assertEqual(self.wine.opened_pages()[self.before:], ["http://" + target])
                    self.before = len(self.wine.opened_pages())
                else:
                    self.assert_nothing_ran_or_opened(target)
                self.wine.driver("command", "--class", PROMPT_CLASS, "--id", "101", "--post")
                self.assertEqual(proc.wait(30), 0)


if __name__ == "__main__":
    unittest.main()
