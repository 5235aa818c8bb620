"""gdserver (the publisher's statistics and seed server, built natively) for the
demo and the Wine tests: started on a free loopback port with an SQLite file."""
import json
import os
import sqlite3
import sys
import urllib.parse
import urllib.request

import harness

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "support"))
import chromium  # noqa: E402
import gdserver_proc  # noqa: E402
import report_words  # noqa: E402

BINARY = os.path.join(harness.BUILD, "native", "bin", "gdserver")


class GdServer(gdserver_proc.GdserverProc):
    def __init__(self, db, log, mirrors=None, configs=None, report_paths=(), port=0):
        if not os.path.exists(BINARY):
            raise RuntimeError("%s is missing: build it with scripts/build native" % BINARY)
        extra = []
        if mirrors:
            extra += ["--mirrors", mirrors]
        if configs:
            extra += ["--configs", configs]
        for path in report_paths:
            extra += ["--report-path", path]
        super().__init__(BINARY, db, log, *extra, port=port, append_log=True)

    def json(self, path):
        with urllib.request.urlopen(self.url(path), timeout=10) as res:
            return json.loads(res.read().decode("utf-8"))

    def funnel(self, game):
        return self.json("/api/funnel?game=" + urllib.parse.quote(game))

    def reports(self, game=None):
        """Stored reports in arrival order, each a dict of the fields present."""
        fields = report_words.FIELDS
        with sqlite3.connect(self.db) as db:
            rows = db.execute("SELECT %s FROM reports ORDER BY received, rowid" % ", ".join(fields)).fetchall()
        found = [{k: v for k, v in zip(fields, row) if v is not None} for row in rows]
        return [r for r in found if game is None or r.get("game") == game]


def screenshot(url, path, width=1000, height=1400):
    """A headless Chromium picture of a page; False without Chromium."""
    return chromium.screenshot(url, path, width, height, extra=["--hide-scrollbars"])
