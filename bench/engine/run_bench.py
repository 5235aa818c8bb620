#!/usr/bin/env python3
"""Engine benchmarks against peers on the same local nginx, in one run:

  1. 256 MiB, limit_rate 20m per connection: pdown / aria2c -x8 -s8 -k1M (wall time)
  2. 256 MiB, unthrottled loopback:          pdown / curl -o               (wall time)
  3. kill -9 five times during a 2 MB/s-per-connection download, then finish:
     bytes nginx served / file size, for pdown and for aria2c
  4. peak resident memory of pdown for a 4 GiB file
  5. with a manifest (<file>.meta4, 4 MiB pieces) beside the file, which pdown
     finds on the server and aria2c is given with -M: pdown / aria2c, 20m per
     connection and unthrottled; both then check every piece

Usage: bench/engine/run_bench.py [--pdown PATH] [--skip-4g] [--work DIR]
Prints one line per figure and the ratios at the end. Timings on a shared
machine vary; the load average is printed with them.
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "p2sp"))
import servers  # noqa: E402

MiB = 1 << 20


def peak_rss_kib(pid):
    """VmHWM of a running process; the kernel resets it at exec, unlike
    ru_maxrss, which still holds the forking Python's size."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def timed(args, watch_memory=False):
    started = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    if watch_memory:
        while True:
            pid, status = os.waitpid(proc.pid, os.WNOHANG)
            if pid:
                break
            peak = max(peak, peak_rss_kib(proc.pid))
            time.sleep(0.05)
    else:
        _, status = os.waitpid(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return time.monotonic() - started, proc.returncode, peak


def check(path, digest):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(8 * MiB), b""):
            h.update(block)
    return h.hexdigest() == digest


def fresh(path):
    for p in (path, path + ".P2P", path + ".aria2"):
        if os.path.exists(p):
            os.unlink(p)


def aria2(url, out):
    return ["aria2c", "-q", "-x8", "-s8", "-k1M", "--allow-overwrite=true", "--auto-file-renaming=false",
            "--file-allocation=none", "-d", os.path.dirname(out), "-o", os.path.basename(out), url]


def aria2_meta4(meta4, out):
    return ["aria2c", "-q", "-x8", "-s8", "-k1M", "--allow-overwrite=true", "--auto-file-renaming=false",
            "--file-allocation=none", "-d", os.path.dirname(out), "-M", meta4]


def kill_run(make_args, out, nginx, size, rng, kills=5):
    """Starts the downloader, kills it with SIGKILL `kills` times, then lets it
    finish; returns bytes served / size."""
    nginx.clear_log()
    done = 0
    finished = lambda: os.path.exists(out) and not any(os.path.exists(out + x) for x in (".P2P", ".aria2"))  # noqa: E731
    for _ in range(kills):
        proc = subprocess.Popen(make_args(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # nginx lets each request start with a second's worth of bytes at once,
        # so the download is quicker than 2 MB/s per connection suggests: kill
        # often enough that all the kills fall inside it.
        time.sleep(rng.uniform(0.4, 1.0))
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        if finished():
            break  # finished before the kill: the remaining kills would start it over
        done += 1
    code = 0
    if not finished():  # a finished file would only be fetched again
        code = subprocess.run(make_args(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    time.sleep(0.3)
    return nginx.bytes_served() / size, code, done


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pdown", default=os.path.join(ROOT, "build", "native", "bin", "pdown"))
    ap.add_argument("--skip-4g", action="store_true")
    ap.add_argument("--work", default=None)
    opts = ap.parse_args()
    # pdown shares what it fetches with a manifest: serve and announce on
    # loopback only, never onto the machine's network.
    os.environ["P2SP_SHARE_ADDRESS"] = "127.0.0.1"
    work = tempfile.mkdtemp(prefix="p2sp-bench-", dir=opts.work)
    root = os.path.join(work, "srv")
    out_dir = os.path.join(work, "out")
    os.makedirs(root)
    os.makedirs(out_dir)
    size = 256 * MiB
    rng = random.Random(1)
    whole, last = hashlib.md5(), hashlib.md5()
    with open(os.path.join(root, "big.bin"), "wb") as f:
        for offset in range(0, size, 8 * MiB):
            block = rng.randbytes(8 * MiB)
            f.write(block)
            whole.update(block)
    with open(os.path.join(root, "big.bin"), "rb") as f:
        f.seek(size - 52428800)
        last.update(f.read())
    digest = whole.hexdigest()
    tail = last.hexdigest()
    # The throttled case has its own name, so that its manifest's <url> is the
    # throttled link (pdown would take an unthrottled one as a mirror).
    os.link(os.path.join(root, "big.bin"), os.path.join(root, "thr.bin"))
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
    nginx = servers.Nginx(root, rate="20m", slow_rate="2m").start()
    out = os.path.join(out_dir, "big.bin")
    pdown = os.path.abspath(opts.pdown)
    link = lambda path: "PDown://b7=1|%s|h1=%s" % (nginx.url(path), tail)  # noqa: E731
    results = {}
    try:
        # 1. throttled per connection
        fresh(out)
        t_p, c, _ = timed([pdown, "--quiet", link("rate/big.bin"), out])
        ok = c == 0 and check(out, digest)
        fresh(out)
        t_a, c2, _ = timed(aria2(nginx.url("rate/big.bin"), out))
        ok2 = c2 == 0 and check(out, digest)
        print("throttled 20m/conn: pdown %.2f s (ok=%s), aria2c %.2f s (ok=%s)" % (t_p, ok, t_a, ok2))
        results["throttled pdown/aria2c (goal <= 1.0)"] = t_p / t_a

        # 2. unthrottled
        fresh(out)
        t_p, c, _ = timed([pdown, "--quiet", link("big.bin"), out])
        ok = c == 0 and check(out, digest)
        fresh(out)
        t_c, c2, _ = timed(["curl", "-s", "-o", out, nginx.url("big.bin")])
        ok2 = c2 == 0 and check(out, digest)
        fresh(out)
        t_a, c3, _ = timed(aria2(nginx.url("big.bin"), out))
        print("unthrottled: pdown %.2f s (ok=%s), curl %.2f s (ok=%s), aria2c %.2f s" % (t_p, ok, t_c, ok2, t_a))
        results["unthrottled pdown/curl (goal <= 1.1)"] = t_p / t_c
        results["unthrottled aria2c/curl (reference)"] = t_a / t_c

        # 3. kill -9 five times at 2 MB/s per connection
        rng = random.Random(5)
        fresh(out)
        ratio, code, kills = kill_run(lambda: [pdown, "--quiet", link("slow/big.bin"), out], out, nginx, size, rng)
        ok = code == 0 and check(out, digest)
        print("kill -9 x%d (of 5 before it finished), pdown: served/size %.3f (ok=%s)" % (kills, ratio, ok))
        results["kill x5 pdown served/size (goal <= 1.25)"] = ratio
        fresh(out)
        ratio_a, code, kills = kill_run(lambda: aria2(nginx.url("slow/big.bin"), out), out, nginx, size, rng)
        ok = code == 0 and check(out, digest)
        print("kill -9 x%d (of 5 before it finished), aria2c: served/size %.3f (ok=%s)" % (kills, ratio_a, ok))
        results["kill x5 aria2c served/size (reference)"] = ratio_a
        fresh(out)

        # 5. with a manifest, both checking every piece; only now, as pdown
        # would find them in the cases above too
        with open(os.path.join(root, "big.bin"), "rb") as f:
            data = f.read()
        for name, path in (("big.bin", "big.bin"), ("thr.bin", "rate/thr.bin")):
            with open(os.path.join(root, name + ".meta4"), "wb") as f:
                f.write(servers.meta4(data, name="big.bin", urls=[nginx.url(path)], piece=4 * MiB))
        del data
        for label, path, meta in (("throttled 20m/conn", "rate/thr.bin", "thr.bin.meta4"),
                                  ("unthrottled", "big.bin", "big.bin.meta4")):
            fresh(out)
            t_p, c, _ = timed([pdown, "--quiet", link(path), out])
            ok = c == 0 and check(out, digest)
            fresh(out)
            t_a, c2, _ = timed(aria2_meta4(os.path.join(root, meta), out))
            ok2 = c2 == 0 and check(out, digest)
            print("%s with .meta4: pdown %.2f s (ok=%s), aria2c -M %.2f s (ok=%s)" % (label, t_p, ok, t_a, ok2))
            results["%s meta4 pdown/aria2c (goal <= 1.0)" % label.split()[0]] = t_p / t_a
        fresh(out)
        # kill -9 with the manifest, whose <url> the slow link gains as a mirror
        os.link(os.path.join(root, "big.bin"), os.path.join(root, "slw.bin"))
        with open(os.path.join(root, "slw.bin.meta4"), "wb") as f, open(os.path.join(root, "big.bin"), "rb") as g:
            f.write(servers.meta4(g.read(), name="big.bin", urls=[nginx.url("slow/big.bin")], piece=4 * MiB))
        ratio, code, kills = kill_run(lambda: [pdown, "--quiet", link("slow/slw.bin"), out], out, nginx, size,
                                      random.Random(5))
        ok = code == 0 and check(out, digest)
        print("kill -9 x%d with .meta4 and a mirror, pdown: served/size %.3f (ok=%s)" % (kills, ratio, ok))
        results["kill x5 meta4 pdown served/size (reference)"] = ratio
        fresh(out)

        # 4. peak memory for 4 GiB
        if not opts.skip_4g:
            big = os.path.join(root, "huge.bin")
            with open(big, "wb") as f:
                f.truncate(4 << 30)
                f.seek((4 << 30) - MiB)
                f.write(random.Random(2).randbytes(MiB))
            h = hashlib.md5()
            with open(big, "rb") as f:
                f.seek((4 << 30) - 52428800)
                h.update(f.read())
            huge_out = os.path.join(out_dir, "huge.bin")
            t, c, rss = timed([pdown, "--quiet", "PDown://b7=1|%s|h1=%s" % (nginx.url("huge.bin"), h.hexdigest()),
                               huge_out], watch_memory=True)
            ok = c == 0 and os.path.getsize(huge_out) == 4 << 30
            print("4 GiB: pdown %.1f s, exit %d (ok=%s), peak RSS %.1f MiB" % (t, c, ok, rss / 1024))
            results["4 GiB peak RSS MiB (goal <= 64)"] = rss / 1024
            fresh(huge_out)
    finally:
        nginx.stop()
        shutil.rmtree(work, ignore_errors=True)
    print()
    print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
    for name, value in results.items():
        print("%-45s %.3f" % (name, value))


if __name__ == "__main__":
    main()
