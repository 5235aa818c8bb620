#!/usr/bin/env python3
"""MD5 text of the file check against md5sum, warm cache; prints ratios.

Usage: bench/md5/bench.py [GAMECFG]   (default: $GD_BUILD_DIR or build, then native/bin/gamecfg)
Goal: the 50 MiB ratio at most 1.15. The 4 GiB sparse file shows that only the
last 50 MiB are read: its time should match the 50 MiB one, not md5sum's.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TAIL = 52428800
RUNS = 15


def timed(cmd):
    best = []
    out = None
    for _ in range(RUNS):
        start = time.perf_counter()
        out = subprocess.run(cmd, stdout=subprocess.PIPE, check=True).stdout.decode().split()[0]
        best.append(time.perf_counter() - start)
    return statistics.median(best), out


def main():
    build = os.environ.get("GD_BUILD_DIR", os.path.join(ROOT, "build"))
    gamecfg = sys.argv[1] if len(sys.argv) > 1 else os.path.join(build, "native", "bin", "gamecfg")
    with tempfile.TemporaryDirectory(prefix="gd-md5-bench-") as folder:
        plain = os.path.join(folder, "plain.bin")
        with open(plain, "wb") as f:
            f.write(os.urandom(TAIL))
        sparse = os.path.join(folder, "sparse.bin")
        with open(sparse, "wb") as f:
            f.truncate(4 << 30)
        subprocess.run(["cat", plain], stdout=subprocess.DEVNULL, check=True)  # warm the cache

        ours, ours_text = timed([gamecfg, "md5", plain])
        theirs, theirs_text = timed(["md5sum", plain])
        if ours_text != theirs_text:
            sys.exit("digests differ: %s %s" % (ours_text, theirs_text))
        print("50 MiB file:   gamecfg md5 %.1f ms, md5sum %.1f ms, ratio %.3f (goal <= 1.15)"
              % (ours * 1000, theirs * 1000, ours / theirs))

        tail_time, _ = timed([gamecfg, "md5", sparse])
        start = time.perf_counter()
        subprocess.run(["md5sum", sparse], stdout=subprocess.DEVNULL, check=True)
        whole = time.perf_counter() - start
        print("4 GiB sparse:  gamecfg md5 %.1f ms (its last 50 MiB), md5sum of the whole file %.1f ms, ratio %.3f"
              % (tail_time * 1000, whole * 1000, tail_time / whole))
        print("               against md5sum of 50 MiB: ratio %.3f" % (tail_time / theirs))


if __name__ == "__main__":
    main()
