"""Headless Chromium for page pictures, kept off the network: no update, account,
sync or component look-ups, and a fresh empty profile each time, so that a test
or the demo resolves no outside name."""
import os
import shutil
import subprocess
import tempfile

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-default-apps", "--disable-extensions", "--no-default-browser-check",
         "--metrics-recording-only",
         # Even with the switches above it still looks up its update, time and account
         # servers; no name but the loopback one resolves, so no query leaves the machine.
         "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE localhost"]


def screenshot(url, path, width, height, extra=()):
    """A picture of the page at url saved to path; False without Chromium or without a picture."""
    chromium = shutil.which("chromium")
    if not chromium:
        return False
    profile = tempfile.mkdtemp(prefix="gd-chromium-")
    try:
        subprocess.run([chromium] + FLAGS + ["--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height),
                                             "--screenshot=" + path] + list(extra) + [url],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return os.path.exists(path)
