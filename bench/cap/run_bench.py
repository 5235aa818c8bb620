#!/usr/bin/env python3
"""The download speed cap (pdown --max-speed) against nginx on loopback.

For each cap, pdown and, after it, aria2c with --max-overall-download-limit
fetch a file larger than 40 s of the cap from an unthrottled nginx. Every
100 ms `ss` gives the bytes each of the tool's connections to nginx has
received (a closed one keeps its last count). The kernel takes no more than
the socket's buffer beyond what the tool reads, so after the first seconds
that is what the tool reads. From 2 s to 32 s after the start the run gives:
  average  bytes in those 30 s / 30 / cap          (goal: 0.95 .. 1.05)
  peak     the most bytes in any 1 s window / cap  (<= 1.5: not even one second above)
  burst    the longest stretch, between two samples, that averaged more than
           1.5 x the cap                           (goal: no more than 1 s)

Usage: bench/cap/run_bench.py [--pdown PATH] [--caps 256K,512K,1M,2M,5M,20M]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "p2sp"))
import servers  # noqa: E402

START, END = 2.0, 32.0


def parse_rate(text):
    units = {"K": 1024, "M": 1024 * 1024}
    return int(float(text[:-1]) * units[text[-1].upper()]) if text[-1].upper() in units else int(text)


def received(port, seen):
    """Updates `seen` (local address of a connection to `port` -> the most
    bytes_received `ss` showed for it) and returns the sum: a connection
    that closed keeps its last count."""
    out = subprocess.run(["ss", "-tineH", "state", "established", "( dport = :%d )" % port],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    key = None
    for line in out.splitlines():
        if not line.startswith((" ", "\t")):
            # A local port may come back for a new connection: the socket's
            # inode tells the two apart.
            fields = line.split()
            inode = [w for w in fields if w.startswith("ino:")]
            key = (fields[2], inode[0] if inode else "") if len(fields) >= 4 else None
            continue
        for word in line.split():
            if word.startswith("bytes_received:") and key:
                seen[key] = max(seen.get(key, 0), int(word.split(":")[1]))
    return sum(seen.values())


def sample(args, port):
    """(seconds, bytes its connections to `port` received) every 100 ms until
    END + 0.5 s, then the process is killed."""
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started = time.monotonic()
    seen = {}
    points = []
    while True:
        now = time.monotonic() - started
        if proc.poll() is not None:
            break
        points.append((now, received(port, seen)))
        if now > END + 0.5:
            break
        time.sleep(0.1)
    proc.kill()
    proc.wait()
    return points


def at(points, t):
    """rchar at time t, by linear interpolation between samples."""
    for (t0, b0), (t1, b1) in zip(points, points[1:]):
        if t0 <= t <= t1:
            return b0 + (b1 - b0) * (t - t0) / (t1 - t0) if t1 > t0 else b1
    return None


def figures(points, cap):
    first, last = at(points, START), at(points, END)
    if first is None or last is None:
        return None, None
    average = (last - first) / (END - START) / cap
    peak = 0.0
    for t0, b0 in points:
        if t0 < START or t0 + 1.0 > END:
            continue
        b1 = at(points, t0 + 1.0)
        peak = max(peak, (b1 - b0) / cap)
    inside = [(t, b) for t, b in points if START <= t <= END]
    burst = 0.0
    for i, (t0, b0) in enumerate(inside):
        for t1, b1 in inside[i + 1:]:
            if b1 - b0 > 1.5 * cap * (t1 - t0):
                burst = max(burst, t1 - t0)
    return average, peak, burst


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pdown", default=os.path.join(ROOT, "build", "native", "bin", "pdown"))
    ap.add_argument("--caps", default="256K,512K,1M,2M,5M,20M")
    ap.add_argument("--seconds", action="store_true", help="print each second's bytes / cap too")
    opts = ap.parse_args()
    # pdown would share a file with a manifest; this one has none, and still
    # nothing is served or announced beyond loopback.
    os.environ["P2SP_SHARE_ADDRESS"] = "127.0.0.1"
    pdown = os.path.abspath(opts.pdown)
    caps = [parse_rate(c) for c in opts.caps.split(",")]
    root = tempfile.mkdtemp(prefix="p2sp-cap-bench-")
    nginx = servers.Nginx(os.path.join(root, "www"))
    os.makedirs(nginx.root)
    nginx.start()
    print("load average at the start: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    failed = False
    try:
        for cap in caps:
            name = "cap-%d.bin" % cap
            with open(os.path.join(nginx.root, name), "wb") as f:
                f.truncate(cap * 45)
            url = nginx.url(name)
            runs = [
                ("pdown", [pdown, "--quiet", "--no-share", "--max-speed", str(cap), url, os.path.join(root, "p.bin")]),
                ("aria2c", ["aria2c", "-q", "-x8", "-s8", "-k1M", "--max-overall-download-limit=%d" % cap,
                            "--allow-overwrite=true", "--file-allocation=none", "-d", root, "-o", "a.bin", url]),
            ]
            for tool, args in runs:
                points = sample(args, nginx.port)
                average, peak, burst = figures(points, cap)
                if opts.seconds:
                    marks = [at(points, t) for t in range(int(END) + 1)]
                    print("  %s: %s" % (tool, " ".join("%.2f" % ((b - a) / cap) for a, b in zip(marks, marks[1:])
                                                          if a is not None and b is not None)))
                time.sleep(1)  # the killed tool's connections wind down
                for leftover in ("p.bin", "p.bin.P2P", "a.bin", "a.bin.aria2"):
                    try:
                        os.unlink(os.path.join(root, leftover))
                    except OSError:
                        pass
                if average is None:
                    print("cap %9d B/s  %-6s  ended before %.0f s" % (cap, tool, END))
                    failed |= tool == "pdown"
                    continue
                ok = 0.95 <= average <= 1.05 and burst <= 1.0
                if tool == "pdown":
                    failed |= not ok
                print("cap %9d B/s  %-6s  average/cap %.3f  peak 1 s/cap %.3f  above 1.5x for %.1f s%s" %
                      (cap, tool, average, peak, burst, "" if tool != "pdown" else ("  ok" if ok else "  MISSED")))
            os.unlink(os.path.join(nginx.root, name))
    finally:
        nginx.stop()
        shutil.rmtree(root, ignore_errors=True)
    print("load average at the end: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
