"""gdserver (the publisher's statistics and seed server, built natively) for the
demo and the Wine tests: started on a free loopback port with an SQLite file."""
import json
import os
import shutil
import sqlite3
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

import harness

BINARY = os.path.join(harness.BUILD, "native", "bin", "gdserver")
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class GdServer:
    def __init__(self, db, log, mirrors=None, configs=None, report_paths=(), port=0):
        if not os.path.exists(BINARY):
            raise RuntimeError("%s is missing: build it with scripts/build native" % BINARY)
        self.db = db
        self.log_path = log
        args = [BINARY, "--listen", "127.0.0.1:%d" % port, "--db", db]
        if mirrors:
            args += ["--mirrors", mirrors]
        if configs:
            args += ["--configs", configs]
        for path in report_paths:
            args += ["--report-path", path]
        self.log = open(log, "ab")
        self.log_start = self.log.tell()  # the log may hold earlier runs
        self.proc = subprocess.Popen(args, stderr=self.log)
        self.port = None
        deadline = time.time() + 20
        while self.port is None and time.time() < deadline:
            text = self.text()
            if "listening on http://127.0.0.1:" in text:
                self.port = int(text.split("listening on http://127.0.0.1:", 1)[1].split("/")[0])
            elif self.proc.poll() is not None:
                raise RuntimeError("gdserver ended: " + text)
            else:
                time.sleep(0.05)
        if self.port is None:
            self.stop()
            raise RuntimeError("gdserver did not start: " + self.text())

    def text(self):
        """This run's log."""
        with open(self.log_path, "rb") as f:
            f.seek(self.log_start)
            return f.read().decode("utf-8", "replace")

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def json(self, path):
        with urllib.request.urlopen(self.url(path), timeout=10) as res:
            return json.loads(res.read().decode("utf-8"))

    def funnel(self, game):
        return self.json("/api/funnel?game=" + urllib.parse.quote(game))

    def reports(self, game=None):
        """Stored reports in arrival order, each a dict of the fields present."""
        fields = ["action", "tg", "cg", "cwdm", "game", "mid", "ver", "pb", "ps"]
        with sqlite3.connect(self.db) as db:
            rows = db.execute("SELECT %s FROM reports ORDER BY received, rowid" % ", ".join(fields)).fetchall()
        found = [{k: v for k, v in zip(fields, row) if v is not None} for row in rows]
        return [r for r in found if game is None or r.get("game") == game]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def screenshot(url, path, width=1000, height=1400):
    """A headless Chromium picture of a page; False without Chromium."""
    chromium = shutil.which("chromium")
    if not chromium:
        return False
    profile = tempfile.mkdtemp(prefix="gd-chromium-")
    try:
        subprocess.run([chromium] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, "--hide-scrollbars",
                                                      "--window-size=%d,%d" % (width, height), "--screenshot=" + path,
                                                      url],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return os.path.exists(path)
