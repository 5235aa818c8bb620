"""The skin under Wine: every prompt and the two main windows' element sets,
drawn, photographed, checked at known pixels and clicked with xdotool.

GD_UPDATE_SCREENS=1 also copies the screenshots to docs/screens/.
"""
import os
import shutil
import subprocess
import threading
import time
import unittest

import harness

SCREENS = os.path.join(harness.BUILD, "wine-tests", "screens", "gallery")
DOCS_SCREENS = os.path.join(harness.ROOT, "docs", "screens")
MAGENTA = (255, 0, 255)  # the gallery's owner window, seen through cut corners

# Element positions inside a prompt (client = window, the prompt is borderless).
CLOSE_CROSS = (369 + 9, 16 + 10)
CANCEL_BUTTON = (311 + 39, 158 + 15)
ACTION_BUTTON = (222 + 39, 158 + 15)
FEEDBACK_LINK = (266 + 15, 91 + 7)

OWNED_PROMPTS = ["direrr", "diropenfailed", "downloadfailed", "filecheckfailed", "filedamaged", "fileerr",
                 "install"]


def luminance(rgb):
    r, g, b = rgb
    return (299 * r + 587 * g + 114 * b) // 1000


class Shot:
    """The pixels of one window, cut from a screenshot of the display."""

    def __init__(self, display, rect, name):
        x, y, cx, cy = rect
        os.makedirs(SCREENS, exist_ok=True)
        full = os.path.join(SCREENS, "_screen.png")
        if not display.screenshot(full):
            raise RuntimeError("no screenshot")
        self.path = os.path.join(SCREENS, name + ".png")
        geometry = "%dx%d+%d+%d" % (cx, cy, x, y)
        subprocess.run(["convert", full, "-crop", geometry, "+repage", self.path], check=True, timeout=30)
        self.raw = subprocess.run(["convert", full, "-crop", geometry, "+repage", "-depth", "8", "rgb:-"],
                                  check=True, stdout=subprocess.PIPE, timeout=30).stdout
        self.width, self.height = cx, cy
        # Names starting with "_" are working shots, not pictures for the docs.
        if os.environ.get("GD_UPDATE_SCREENS") == "1" and not name.startswith("_"):
            os.makedirs(DOCS_SCREENS, exist_ok=True)
            shutil.copyfile(self.path, os.path.join(DOCS_SCREENS, name + ".png"))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def count(self, box, predicate):
        left, top, right, bottom = box
        return sum(1 for y in range(top, bottom) for x in range(left, right) if predicate(self.pixel(x, y)))


class Gallery:
    """One run of gallery.exe with its output lines collected as they come."""

    def __init__(self, wine, *args):
        self.proc = wine.start(harness.exe("gallery.exe"), *args, capture=True)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.append(raw.decode("utf-8", "replace").strip())

    def wait_line(self, prefix, timeout=20):
        line = harness.wait_until(lambda: next((l for l in self.lines if l.startswith(prefix)), None), timeout)
        if line is None:
            raise AssertionError("no line %r; got %r" % (prefix, self.lines))
        return line

    def has_line(self, prefix):
        return any(l.startswith(prefix) for l in self.lines)

    def window(self):
        return tuple(int(v) for v in self.wait_line("window ").split()[1:])

    def result(self, timeout=20):
        return int(self.wait_line("result ", timeout).split()[1])

    def finish(self, timeout=20):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(10)
            raise AssertionError("gallery did not end; output %r" % self.lines)
        finally:
            self.reader.join(5)
            self.proc.stdout.close()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        self.reader.join(5)
        self.proc.stdout.close()


class GalleryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = harness.session()

    def start(self, *args):
        gallery = Gallery(self.wine, *args)
        self.addCleanup(gallery.stop)
        return gallery

    def xdotool(self, *args):
        env = dict(os.environ, DISPLAY=self.display.name)
        subprocess.run(["xdotool"] + [str(a) for a in args], env=env, check=True, timeout=30)

    def click(self, rect, point):
        """Moves onto the point first, so the element sees the mouse enter,
        then presses and releases."""
        x, y = rect[0] + point[0], rect[1] + point[1]
        # Two steps: the element sees the mouse enter only through a motion
        # inside the window, and a pointer warped straight onto it from far
        # away is not always reported as one.
        self.xdotool("mousemove", x - 3, y - 2)
        time.sleep(0.2)
        self.xdotool("mousemove", x, y)
        time.sleep(0.3)
        self.xdotool("mousedown", "1")
        time.sleep(0.15)
        self.xdotool("mouseup", "1")
        time.sleep(0.2)

    def settle(self):
        time.sleep(0.8)  # painting and the first hover tick

    def park_mouse(self):
        self.xdotool("mousemove", 5, 795)

    # ---- prompts -------------------------------------------------------------

    def check_prompt_look(self, shot, owned, with_action=True):
        self.assertEqual((404, 201), (shot.width, shot.height))
        band, body = shot.pixel(200, 8), shot.pixel(40, 110)
        self.assertLess(luminance(band), 110, "title band not dark: %r" % (band,))
        self.assertGreater(luminance(body), 180, "body not light: %r" % (body,))
        # The white title 提示 next to the warning icon, the orange icon itself.
        self.assertGreater(shot.count((42, 16, 80, 36), lambda p: luminance(p) > 200), 15)
        self.assertGreater(shot.count((14, 14, 38, 38), lambda p: p[0] > 180 and p[2] < 120), 20)
        # The message: dark strokes in the text column.
        self.assertGreater(shot.count((84, 50, 320, 150), lambda p: luminance(p) < 90), 60)
        # 关闭 and, where there is one, the action button differ from the footer.
        footer = shot.pixel(150, 190)
        differs = lambda p: sum(abs(a - b) for a, b in zip(p, footer)) > 60
        self.assertGreater(shot.count((311, 158, 389, 188), differs), 200)
        action = shot.count((222, 158, 300, 188), differs)
        if with_action:
            self.assertGreater(action, 200)
        else:
            self.assertLess(action, 40)
        if owned:
            # Cut corners let the owner show through; just inside them the skin.
            for x, y in ((0, 0), (2, 2), (403, 0), (401, 2), (0, 200), (402, 198), (403, 200)):
                self.assertEqual(MAGENTA, shot.pixel(x, y), "corner %d,%d" % (x, y))
            self.assertNotEqual(MAGENTA, shot.pixel(9, 1))
            self.assertNotEqual(MAGENTA, shot.pixel(395, 199))

    def test_every_owned_prompt_draws_its_skin_and_the_cross_gives_0(self):
        for name in OWNED_PROMPTS:
            with self.subTest(prompt=name):
                gallery = self.start("prompt", name)
                rect = gallery.window()
                self.park_mouse()
                self.settle()
                shot = Shot(self.display, rect, "prompt-" + name)
                self.check_prompt_look(shot, owned=True, with_action=name != "diropenfailed")
                self.click(rect, CLOSE_CROSS)
                self.assertEqual(0, gallery.result())
                self.assertTrue(gallery.has_line("owner-enabled 1"), gallery.lines)
                gallery.finish()

    def test_cancel_and_action_buttons_give_1_and_2(self):
        for name, point, expected in (("direrr", CANCEL_BUTTON, 1), ("direrr", ACTION_BUTTON, 2),
                                      ("install", ACTION_BUTTON, 2), ("fileerr", ACTION_BUTTON, 2)):
            with self.subTest(prompt=name, expected=expected):
                gallery = self.start("prompt", name)
                rect = gallery.window()
                self.settle()
                self.click(rect, point)
                self.assertEqual(expected, gallery.result())
                gallery.finish()

    def test_prompt_without_action_ignores_that_spot(self):
        gallery = self.start("prompt", "diropenfailed")
        rect = gallery.window()
        self.settle()
        self.click(rect, ACTION_BUTTON)
        time.sleep(0.5)
        self.assertFalse(gallery.has_line("result"), gallery.lines)
        self.click(rect, CANCEL_BUTTON)
        self.assertEqual(1, gallery.result())
        gallery.finish()

    def test_feedback_link_asks_the_owner_and_keeps_the_prompt(self):
        gallery = self.start("prompt", "filecheckfailed", "--alt")
        rect = gallery.window()
        self.park_mouse()
        self.settle()
        shot = Shot(self.display, rect, "prompt-filecheckfailed-alt")
        # The link is drawn in its blue (0xFE8034 is R 0x34, G 0x80, B 0xFE).
        self.assertGreater(shot.count((266, 88, 330, 110), lambda p: p[2] > 200 and p[0] < 120), 10)
        self.click(rect, FEEDBACK_LINK)
        gallery.wait_line("owner-command 17")
        time.sleep(0.5)
        self.assertFalse(gallery.has_line("result"), gallery.lines)
        self.click(rect, CANCEL_BUTTON)
        self.assertEqual(1, gallery.result())
        gallery.finish()

    def test_prompt_closed_by_the_system_gives_4_and_frees_the_owner(self):
        gallery = self.start("prompt", "filedamaged")
        gallery.window()
        code, out = self.wine.driver("close", "--class", "SomPromptDlg", "--timeout", "5000")
        self.assertEqual(0, code, out)
        self.assertEqual(4, gallery.result())
        self.assertTrue(gallery.has_line("owner-enabled 1"), gallery.lines)
        gallery.finish()

    def test_install_prompt_is_found_by_its_title(self):
        gallery = self.start("prompt", "install")
        gallery.window()
        code, out = self.wine.driver("find", "--title", "DownloadFinished", "--timeout", "5000")
        self.assertEqual(0, code, out)
        code, out = self.wine.driver("command", "--title", "DownloadFinished", "--id", "102")
        self.assertEqual(0, code, out)
        self.assertEqual(2, gallery.result())
        gallery.finish()

    def test_corners_do_not_take_clicks_but_the_body_drags(self):
        gallery = self.start("prompt", "direrr")
        rect = gallery.window()
        self.settle()
        x, y = rect[0], rect[1]
        # A drag from inside the cut top-left corner leaves the prompt alone.
        self.xdotool("mousemove", x + 1, y + 1, "mousedown", "1")
        time.sleep(0.2)
        self.xdotool("mousemove", x + 61, y + 61)
        time.sleep(0.2)
        self.xdotool("mouseup", "1")
        self.park_mouse()
        self.settle()
        still = Shot(self.display, rect, "_corner-drag")
        self.assertLess(luminance(still.pixel(200, 8)), 110)
        self.assertEqual(MAGENTA, still.pixel(1, 1))
        # A drag from the body moves it.
        self.xdotool("mousemove", x + 40, y + 110, "mousedown", "1")
        time.sleep(0.3)
        for step in range(1, 6):
            self.xdotool("mousemove", x + 40 + 8 * step, y + 110 + 6 * step)
            time.sleep(0.1)
        self.xdotool("mouseup", "1")
        self.park_mouse()
        self.settle()
        moved = Shot(self.display, (x + 40, y + 30, 404, 201), "_body-drag")
        self.assertLess(luminance(moved.pixel(200, 8)), 110)
        self.assertEqual(MAGENTA, moved.pixel(1, 1))
        self.assertNotEqual(MAGENTA, moved.pixel(20, 3))
        code, _ = self.wine.driver("close", "--class", "SomPromptDlg", "--timeout", "5000")
        self.assertEqual(0, code)
        self.assertEqual(4, gallery.result())
        gallery.finish()

    def test_retry_closes_the_prompt_but_not_the_program(self):
        gallery = self.start("prompt", "initialfailed")
        rect = gallery.window()
        self.park_mouse()
        self.settle()
        shot = Shot(self.display, rect, "prompt-initialfailed")
        self.check_prompt_look(shot, owned=False)
        self.click(rect, ACTION_BUTTON)
        gallery.wait_line("retry")
        gallery.wait_line("still-running")
        self.assertEqual(2, gallery.result())
        gallery.finish()

    def test_close_cross_of_initialization_prompt_ends_the_program(self):
        gallery = self.start("prompt", "initialfailed")
        rect = gallery.window()
        self.settle()
        self.click(rect, CLOSE_CROSS)
        self.assertEqual(0, gallery.result())
        gallery.finish()
        self.assertFalse(gallery.has_line("still-running"))

    def test_older_version_download_opens_the_page_and_ends(self):
        gallery = self.start("prompt", "olderversion", "--url", "http://dl.example/new.exe")
        rect = gallery.window()
        self.park_mouse()
        self.settle()
        shot = Shot(self.display, rect, "prompt-olderversion")
        self.check_prompt_look(shot, owned=False)
        self.click(rect, ACTION_BUTTON)
        gallery.wait_line("open http://dl.example/new.exe")
        self.assertEqual(2, gallery.result())
        gallery.finish()

    # ---- main windows' element sets ------------------------------------------

    def test_main_window_elements(self):
        gallery = self.start("main")
        rect = gallery.window()
        self.park_mouse()
        self.settle()
        shot = Shot(self.display, rect, "main")
        self.assertEqual((400, 200), (shot.width, shot.height))
        # Title text in white on the frame's band; the bar filled to 60 %.
        self.assertGreater(shot.count((12, 10, 200, 32), lambda p: luminance(p) > 200), 30)
        fill, track = shot.pixel(30 + 100, 143), shot.pixel(30 + 300, 143)
        self.assertGreater(sum(abs(a - b) for a, b in zip(fill, track)), 60, (fill, track))
        self.click(rect, (369 + 9, 8 + 10))
        gallery.wait_line("command 0")
        code, _ = self.wine.driver("close", "--class", "GalleryMain", "--timeout", "5000")
        self.assertEqual(0, code)
        gallery.finish()

    def test_download_window_elements_and_web_stand_by(self):
        gallery = self.start("download", "--web", "http://127.0.0.1:1/promo.html")
        rect = gallery.window()
        # No browser engine under Wine: the page fails one way or another and
        # the stand-by picture takes the web area.
        harness.wait_until(lambda: gallery.has_line("web-nav-error") or gallery.has_line("web-view 0"), 15)
        self.park_mouse()
        self.settle()
        shot = Shot(self.display, rect, "download")
        self.assertEqual((680, 420), (shot.width, shot.height))
        self.assertTrue(gallery.has_line("web-nav-error") or gallery.has_line("web-view 0"), gallery.lines)
        # The web area is painted by the stand-by picture, not left blank.
        colours = {shot.pixel(x, y) for x in range(30, 650, 37) for y in range(66, 290, 23)}
        self.assertGreater(len(colours), 3, colours)
        # Progress at 50 %: fill left of the middle, track right of it.
        fill, track = shot.pixel(87 + 100, 350), shot.pixel(87 + 320, 350)
        self.assertGreater(sum(abs(a - b) for a, b in zip(fill, track)), 60, (fill, track))
        self.click(rect, (520 + 60, 319 + 20))
        gallery.wait_line("command 10")
        code, _ = self.wine.driver("close", "--class", "GalleryDownload", "--timeout", "5000")
        self.assertEqual(0, code)
        gallery.finish()


if __name__ == "__main__":
    unittest.main()
