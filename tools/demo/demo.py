#!/usr/bin/env python3
"""The program's main job on a local demo.

Serves a demo game (configuration, files, skin picture, statistics endpoint)
from a local server, brands a copy of the program for it and runs that copy
under Wine: on $DISPLAY when there is one, otherwise on a virtual display,
saving screenshots under build/demo/. Prints what happened at the end.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

import harness  # noqa: E402
from testserver import TestServer  # noqa: E402

KEY = "{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}"
OUT = os.path.join(ROOT, "build", "demo")
WWW = os.path.join(OUT, "www")
TAIL = 52428800  # files above 50 MiB are checked by their last 50 MiB
FILES = [("setup.exe", 3 * 1024 * 1024), ("data1.pak", 60 * 1024 * 1024), ("data2.pak", 8 * 1024 * 1024)]


def make_file(path, size, seed):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    block = hashlib.sha256(seed.encode()).digest() * 32768  # 1 MiB of a seeded pattern
    with open(path, "wb") as f:
        left = size
        counter = 0
        while left:
            piece = block[: min(left, len(block))]
            f.write(counter.to_bytes(8, "little") + piece[8:])
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


def build_game(base_url):
    game_dir = os.path.join(WWW, "games", "demo")
    os.makedirs(game_dir, exist_ok=True)
    sizes, links, md5s = [], [], []
    for name, size in FILES:
        path = os.path.join(game_dir, name)
        make_file(path, size, name)
        sizes.append(str(size))
        links.append(base_url + "/games/demo/" + name)
        md5s.append(md5_text(path))
    skin = os.path.join(WWW, "skin", "demo_bk.png")
    os.makedirs(os.path.dirname(skin), exist_ok=True)
    if not os.path.exists(skin):
        subprocess.run(["convert", "-size", "680x420", "gradient:#1d3557-#457b9d", skin], check=True)
    config = "\r\n".join([
        "[GameConfig]",
        "GameName=星海传说",
        "GameVersion=2.3.1",
        "GameSize=" + ",".join(sizes),
        "GameDownloadLink=" + ",".join(links),
        "GameMd5=" + ",".join(md5s),
        "GameStart=setup.exe",
        "[DownLoader]",
        "NewVersion=1.1.0.1010",
        "SkinLink=" + base_url + "/skin/demo_bk.png",
        "GardBoxInstallTip=安装游戏保护工具",
        "TextPromotionTitle=新服开启",
        "TextPromotionLink=" + base_url + "/promo.html",
        "[Gardbox]",
        "safecheck=1",
        "DomainName=" + base_url + "/stat.php",
    ]) + "\r\n"
    config_dir = os.path.join(WWW, "tool", "muldown")
    os.makedirs(config_dir, exist_ok=True)
    with open(os.path.join(config_dir, KEY + ".html"), "wb") as f:
        f.write(b"\xff\xfe" + config.encode("utf-16-le"))
    return [(name, size, md5s[i]) for i, (name, size) in enumerate(FILES)]


def main():
    os.makedirs(OUT, exist_ok=True)
    server = TestServer(root=WWW)
    server.start()
    base = "http://127.0.0.1:%d" % server.port
    print("demo server: %s (serving %s)" % (base, WWW))
    files = build_game(base)
    server.add("/stat.php", body=b"ok")

    display = harness.Display()
    display.start(use_existing=True)
    headless = display.proc is not None
    wine = harness.Wine(display.name)
    print("wine prefix: %s, display %s%s" % (wine.prefix, display.name, " (virtual)" if headless else ""))
    wine.ensure_prefix()
    program = harness.branded_copy(harness.exe("GameDownloader.exe"), OUT, game_key=KEY,
                                   server=base + "/tool/muldown/", wine=wine)
    print("branded copy: %s" % program)

    proc = wine.start(program)
    title = "Brenva网游戏下载器-星海传说专版"
    code, found = wine.driver("find", "--title", title, "--timeout", "30000")
    time.sleep(0.5)
    shot = os.path.join(OUT, "01-initialized.png")
    if headless:
        display.screenshot(shot)
    if not headless and code == 0:
        print("the program runs on %s; close its window (Alt+F4) to end the demo" % display.name)
        proc.wait()
    else:
        wine.driver("close", "--title", title)
        try:
            proc.wait(20)
        except subprocess.TimeoutExpired:
            wine.kill_all()
    wine.kill_all()
    display.stop()
    server.stop()

    print()
    print("what happened:")
    print("  window: %s" % ("shown, titled " + title if code == 0 else "NOT shown"))
    for r in server.requests():
        print("  request: %s %s" % (r["method"], r["path"]))
    print("  game files offered: %d (%s)" % (len(files), ", ".join("%s %d bytes" % (n, s) for n, s, _ in files)))
    if headless:
        print("  screenshot: %s" % shot)
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
