#!/usr/bin/env python3
"""The program's main job on a local demo.

A local server serves a generated demo game (configuration made with gamecfg,
four files of which one is over 50 MiB, a skin picture, a companion installer), a
mirror serves the same files as the second source that gdserver's seed service
names, and gdserver stores every report and draws the dashboard. A branded copy of
the program runs under Wine: on $DISPLAY when there is one (the player clicks),
otherwise on a virtual display where the demo presses the download button
itself, follows the download to the install prompt, starts the installer and
saves a screenshot of each stage under build/demo/. It ends with a summary, the
dashboard's address and a picture of it.
"""
import atexit
import hashlib
import http.server
import os
import shutil
import subprocess
import sys
import threading
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

import gdserver  # noqa: E402
import harness  # noqa: E402
from testserver import TestServer  # noqa: E402

# Sharing between players stays on loopback: the engine serves and announces
# on this address only, so nothing reaches the machine's network.
os.environ.setdefault("P2SP_SHARE_ADDRESS", "127.0.0.1")

KEY = "{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}"
GAME_NAME = "星海传说"
TITLE = "Brenva网游戏下载器-%s专版" % GAME_NAME
OUT = os.path.join(harness.BUILD, "demo")
WWW = os.path.join(OUT, "www")
TAIL = 52428800  # files above 50 MiB are checked by their last 50 MiB
# setup.exe is the installer stand-in, so that 立即安装 visibly runs something.
DATA_FILES = [("data1.pak", 60 * 1024 * 1024), ("data2.pak", 8 * 1024 * 1024), ("readme.txt", 4096)]
COMPANION = "GardboxSetup.exe"
DOWNLOAD_COMMAND = 10      # the download window's download button
INSTALL_NOW = 102          # 立即安装 of the install prompt
QUIT_COMMAND = 2026        # "关闭" of the notification-area menu
EVENTS = {"1": "Initial", "2": "StartDownload", "3": "PauseDownload", "4": "RestartDownload",
          "5": "CompleteDownload"}


def make_file(path, size, seed):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    block = hashlib.sha256(seed.encode()).digest() * 32768  # 1 MiB of a seeded pattern
    with open(path, "wb") as f:
        left = size
        counter = 0
        while left:
            piece = block[: min(left, len(block))]
            f.write((counter.to_bytes(8, "little") + piece[8:])[: len(piece)])
            left -= len(piece)
            counter += 1


def md5_text(path):
    size = os.path.getsize(path)
    h = hashlib.md5()
    with open(path, "rb") as f:
        if size > TAIL:
            f.seek(size - TAIL)
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Services:
    """gdserver: the seed service (from a mirrors file naming the mirror) and the
    statistics reports, printed here as they are stored."""

    def __init__(self, mirror_base, mirrored_names):
        self.port = free_port()
        self.mirrors = os.path.join(OUT, "mirrors.txt")
        with open(self.mirrors, "w") as f:
            f.write("# <file name or h1 text> <base URL>: the second source of each game file\n")
            for name in sorted(mirrored_names):
                f.write("%s %s/games/demo/\n" % (name, mirror_base))
        self.db = os.path.join(OUT, "stats.sqlite")
        self.server = None
        self.printed = 0
        self.watching = threading.Event()
        self.watcher = threading.Thread(target=self.watch, daemon=True)

    @property
    def base(self):
        return "http://127.0.0.1:%d" % self.port

    def start(self, configs):
        self.server = gdserver.GdServer(self.db, os.path.join(OUT, "gdserver.log"), mirrors=self.mirrors,
                                        configs=configs, port=self.port)
        atexit.register(self.server.stop)
        self.printed = len(self.server.reports())  # earlier runs' reports stay in the database
        self.earlier = self.printed
        self.watching.set()
        self.watcher.start()

    def watch(self):
        while self.watching.is_set():
            self.print_new()
            time.sleep(0.3)

    def print_new(self):
        reports = self.server.reports()
        for r in reports[self.printed:]:
            extra = " ".join("%s=%s" % (k, r[k]) for k in ("tg", "cg", "cwdm") if k in r)
            print("  [%s] report stored: action=%s (%s)%s" % (time.strftime("%H:%M:%S"), r.get("action"),
                                                            EVENTS.get(r.get("action"), "?"),
                                                            (" " + extra) if extra else ""), flush=True)
        self.printed = len(reports)

    @property
    def reports(self):
        return [(r.get("action"), " ".join("%s=%s" % (k, r[k]) for k in ("tg", "cg", "cwdm") if k in r))
                for r in self.server.reports()[self.earlier:]]

    @property
    def seed_queries(self):
        return [line.split("seed: ", 1)[1].split(" from ", 1)[0]
                for line in self.server.text().splitlines() if "gdserver: seed: " in line]

    def dashboard(self):
        """The dashboard's address and a picture of it in build/demo/."""
        url = self.server.url("/dashboard?game=" + urllib.parse.quote(KEY))
        shot = os.path.join(OUT, "06-dashboard.png")
        return url, shot if gdserver.screenshot(url, shot) else None

    def stop(self):
        self.watching.clear()
        if self.watcher.is_alive():
            self.watcher.join()
        self.print_new()
        self.server.stop()


def throttle(server, bytes_per_second):
    """Slows every connection of the download server, so that the second source
    the seed service names visibly takes its share."""
    handler = server._httpd.RequestHandlerClass
    plain = handler._send_stream

    def slow(self, stream, length, piece, pause, chunked):
        return plain(self, stream, length, piece, max(pause, piece / bytes_per_second), chunked)

    handler._send_stream = slow


def range_bytes(requests):
    """Bytes asked for by ranged GETs ("bytes=a-b")."""
    total = 0
    for r in requests:
        asked = r["headers"].get("Range", "")
        first, _, last = asked.partition("=")[2].partition("-")
        if first.isdigit() and last.isdigit():
            total += int(last) - int(first) + 1
    return total


def build_game(wine, base_url, services_base, marker, mirror_base):
    game_dir = os.path.join(WWW, "games", "demo")
    os.makedirs(game_dir, exist_ok=True)
    shutil.copyfile(marker, os.path.join(game_dir, "setup.exe"))
    for name, size in DATA_FILES:
        make_file(os.path.join(game_dir, name), size, name)
    companion_dir = os.path.join(WWW, "gardbox")
    os.makedirs(companion_dir, exist_ok=True)
    shutil.copyfile(marker, os.path.join(companion_dir, COMPANION))
    skin = os.path.join(WWW, "skin", "demo_bk.png")
    os.makedirs(os.path.dirname(skin), exist_ok=True)
    if not os.path.exists(skin):
        subprocess.run(["convert", "-size", "680x420", "gradient:#1d3557-#a8dadc", skin], check=True)

    config_dir = os.path.join(WWW, "tool", "muldown")
    os.makedirs(config_dir, exist_ok=True)
    config = os.path.join(config_dir, KEY + ".html")
    names = ["setup.exe"] + [n for n, _ in DATA_FILES]
    args = ["make", "--name", GAME_NAME, "--base-url", base_url + "/games/demo/", "--start", "setup.exe",
            "--game-version", "2.3.1", "--skin-link", base_url + "/skin/demo_bk.png",
            "--companion-link", base_url + "/gardbox/" + COMPANION, "--install-tip", "安装游戏保护工具",
            "--seed-url", services_base + "/seed", "--domain", services_base + "/stat.php",
            "--promotion-title", "新服开启", "--promotion-link", base_url + "/promo.html",
            "--mirror", mirror_base + "/games/demo/",  # named in each file's manifest
            "-o", harness.winpath(config)] + [harness.winpath(os.path.join(game_dir, n)) for n in names]
    code, out = wine.run(harness.exe("gamecfg.exe"), *args, timeout=120)
    if code != 0:
        raise SystemExit("gamecfg make failed (%d): %s" % (code, out))
    return [(n, os.path.join(game_dir, n)) for n in names], config


def clean_previous_run(wine, save_dir, files):
    """A finished earlier run would make the program offer the install at once."""
    temp = wine.temp_dir()
    for name in (KEY + ".tmp.cfg", KEY + ".png", COMPANION, COMPANION + ".ran"):
        path = os.path.join(temp, name)
        if os.path.exists(path):
            os.unlink(path)
    for name, _ in files:
        for suffix in ("", ".P2P", ".ran"):
            path = os.path.join(save_dir, name + suffix)
            if os.path.exists(path):
                os.unlink(path)


class Stage:
    def __init__(self, display, headless):
        self.display = display
        self.headless = headless
        self.shots = []
        self.notes = []

    def note(self, text):
        print("  [%s] %s" % (time.strftime("%H:%M:%S"), text), flush=True)
        self.notes.append(text)

    def shot(self, name):
        if not self.headless:
            return
        path = os.path.join(OUT, name)
        if self.display.screenshot(path):
            self.shots.append(path)


def find(wine, *selector, timeout=30000):
    code, out = wine.driver("find", *selector, "--timeout", str(timeout), timeout=timeout // 1000 + 30)
    return out.split("\t") if code == 0 else None


def command(wine, cls=None, title=None, ident=0):
    selector = ["--class", cls] if cls else ["--title", title]
    return wine.driver("command", *selector, "--id", str(ident), "--post")[0] == 0


def drive(wine, stage, save_dir, files):
    """Headless: the stages a player goes through, by the windows' own commands."""
    if find(wine, "--class", "GdMainDlg", timeout=20000):
        stage.note("initialization window shown")
        time.sleep(0.2)
        stage.shot("01-initializing.png")
    if not find(wine, "--class", KEY, timeout=30000):
        stage.note("the download window did NOT appear")
        return False
    stage.note("download window shown (class = game key)")
    time.sleep(1.0)
    stage.shot("02-download-window.png")
    command(wine, cls=KEY, ident=DOWNLOAD_COMMAND)
    stage.note("download button pressed (WM_COMMAND 10)")
    big = os.path.join(save_dir, DATA_FILES[0][0])
    shot_taken = False
    deadline = time.time() + 150
    while time.time() < deadline:
        if not shot_taken and (os.path.exists(big + ".P2P") or os.path.exists(big)):
            time.sleep(1.0)
            stage.shot("03-downloading.png")
            shot_taken = True
        if find(wine, "--title", "DownloadFinished", timeout=0):
            break
        time.sleep(0.5)
    else:
        stage.note("the install prompt did NOT appear within 150 s")
        return False
    stage.note("install prompt shown (title DownloadFinished)")
    # It is shown without taking the focus; wait for its first paint.
    time.sleep(1.0)
    stage.shot("04-install-prompt.png")
    command(wine, title="DownloadFinished", ident=INSTALL_NOW)
    stage.note("立即安装 pressed")
    ran = os.path.join(save_dir, "setup.exe.ran")
    if harness.wait_until(lambda: os.path.exists(ran), timeout=20):
        stage.note("the game's installer ran (%s)" % ran)
    time.sleep(1.0)
    stage.shot("05-after-install.png")
    return True


def summary(stage, services, server, mirror, wine, files, save_dir, headless):
    print()
    print("what happened:")
    for text in stage.notes:
        print("  - " + text)
    verified = 0
    for name, source in files:
        target = os.path.join(save_dir, name)
        if not os.path.exists(target):
            print("  file %-11s missing in %s" % (name, save_dir))
            continue
        same_size = os.path.getsize(target) == os.path.getsize(source)
        same_md5 = same_size and md5_text(target) == md5_text(source)
        verified += same_md5
        print("  file %-11s %10d bytes  %s" % (name, os.path.getsize(target),
                                              "verified (size and MD5 text)" if same_md5 else "DIFFERS"))
    print("  files verified: %d of %d (in %s)" % (verified, len(files), save_dir))
    ran = os.path.join(wine.temp_dir(), COMPANION + ".ran")
    if os.path.exists(ran):
        with open(ran, "rb") as f:
            text = f.read().decode("utf-16-le", "replace").replace("\r\n", "; ").strip("; ")
        print("  companion installer ran silently: %s" % text)
    else:
        print("  companion installer: not run")
    paths = [urllib.parse.urlsplit(r["path"]).path for r in server.requests()]
    print("  requests to the download server: configuration %d, skin %d, companion %d, game files %d" % (
        paths.count("/tool/muldown/%s.html" % KEY), paths.count("/skin/demo_bk.png"),
        paths.count("/gardbox/" + COMPANION), sum(1 for p in paths if p.startswith("/games/demo/"))))
    game_paths = [p for p in paths if p.startswith("/games/demo/")]
    manifests = sorted({p.rsplit("/", 1)[-1][:-len(".meta4")] for p in game_paths if p.endswith(".meta4")})
    pieces = sum(-(-os.path.getsize(source) // (4 << 20)) for name, source in files if name in manifests)
    print("  manifests served for: %s; pieces listed in them: %d of 4 MiB (the engine checks each piece "
          "when the manifest arrives before the file's last byte)" % (", ".join(manifests) or "none", pieces))
    game_requests = [r for r in server.requests()
                     if urllib.parse.urlsplit(r["path"]).path.startswith("/games/demo/")
                     and not r["path"].endswith(".meta4")]
    mirror_requests = [r for r in mirror.requests() if not r["path"].endswith(".meta4")]
    print("  bytes asked for by range: download server %.1f MiB, mirror %.1f MiB" % (
        range_bytes(game_requests) / 1048576.0, range_bytes(mirror_requests) / 1048576.0))
    mirrored = sorted({urllib.parse.urlsplit(r["path"]).path.rsplit("/", 1)[-1] for r in mirror.requests()})
    print("  seed service asked for: %s" % (", ".join(sorted(set(services.seed_queries))) or "nothing"))
    print("  second source (mirror) served: %s in %d requests, about %.1f MiB asked for by range" % (
        ", ".join(mirrored) or "nothing", len(mirror.requests()), range_bytes(mirror.requests()) / 1048576.0))
    print("  reports received: %s" % (", ".join("%s %s%s" % (a, EVENTS.get(a, "?"), " " + e if e else "")
                                                for a, e in services.reports) or "none"))
    if headless:
        for path in stage.shots:
            print("  screenshot: %s" % path)
    return verified == len(files)


def main():
    os.makedirs(OUT, exist_ok=True)
    display = harness.Display()
    display.start(use_existing=True)
    headless = display.proc is not None
    wine = harness.Wine(display.name)
    print("wine prefix: %s, display %s%s" % (wine.prefix, display.name, " (virtual)" if headless else ""))
    wine.ensure_prefix()

    server = TestServer(root=WWW)
    server.start()
    throttle(server, 4 * 1024 * 1024)
    mirror = TestServer(root=WWW)
    mirror.start()
    base = "http://127.0.0.1:%d" % server.port
    services = Services("http://127.0.0.1:%d" % mirror.port, {"setup.exe"} | {n for n, _ in DATA_FILES})
    files, config = build_game(wine, base, services.base, harness.exe("marker.exe"),
                               "http://127.0.0.1:%d" % mirror.port)
    # gdserver reads the configuration for the game's name and the report path.
    services.start(os.path.dirname(config))
    print("demo server: %s (serving %s, 4 MiB/s per connection); mirror: %s; gdserver (seed and statistics): %s" % (
        base, WWW, "http://127.0.0.1:%d" % mirror.port, services.base))
    print("dashboard: %s (gdserver's log: %s)" % (services.server.url("/dashboard"), services.server.log_path))
    print("configuration: %s (made by gamecfg)" % config)
    for name, path in files:
        print("  %-11s %10d bytes  md5 text %s" % (name, os.path.getsize(path), md5_text(path)))

    save_dir = os.path.join(wine.prefix, "drive_c", "download")
    clean_previous_run(wine, save_dir, files)
    program = harness.branded_copy(harness.exe("GameDownloader.exe"), OUT, game_key=KEY,
                                   server=base + "/tool/muldown/", wine=wine)
    print("branded copy: %s" % program)
    print()
    print("as it runs:")

    stage = Stage(display, headless)
    started = time.time()
    proc = wine.start(program)
    ok = True
    try:
        if headless:
            ok = drive(wine, stage, save_dir, files)
            command(wine, cls=KEY, ident=QUIT_COMMAND)
            proc.wait(30)
        else:
            print("  the program runs on %s; download the game, then choose 关闭 in its "
                  "notification-area menu to end the demo" % display.name, flush=True)
            proc.wait()
        stage.note("program ended with exit code %s after %.0f s" % (proc.returncode, time.time() - started))
        time.sleep(1.0)  # the last reports
    except subprocess.TimeoutExpired:
        stage.note("the program did not end; stopped")
        ok = False
    finally:
        wine.kill_all()
        display.stop()
        mirror.stop()
        server.stop()
    verified = summary(stage, services, server, mirror, wine, files, save_dir, headless)
    funnel = services.server.funnel(KEY)
    url, shot = services.dashboard()
    services.stop()
    print("  funnel of %s (players, all runs so far): %s" % (GAME_NAME, ", ".join(
        "%s %d" % (k, funnel[k]) for k in ("initial", "start", "complete", "failed"))))
    print()
    print("dashboard: %s" % url)
    print("  picture: %s" % (shot or "not taken (no chromium)"))
    print("  to look at it again: %s --listen 127.0.0.1:%d --db %s --configs %s" % (
        gdserver.BINARY, services.port, services.db, os.path.dirname(config)))
    return 0 if ok and verified else 1


if __name__ == "__main__":
    sys.exit(main())
