#!/usr/bin/env python3
"""Players sharing one file on loopback: N pdown processes start together on
one file with a manifest (4 MiB pieces) from an origin held to a total rate
over all its connections. Every process shares only on 127.0.0.1 and stays
(--linger) until the last file is in, as players who keep the program open.

For each process count it runs:
  share    sharing on, once per upload cap (--caps)
  noshare  the same processes with --no-share
  liar     N-1 processes and one fake peer that claims every piece and flips
           a byte in every 4 KiB it serves (first cap)
  trickle  one process alone, then with K fake peers (--trickle, each K)
           that claim every piece and send 2 bytes a second, right ones and
           wrong ones; the ratio of each to the process alone (goal: 1.2 at
           most)
and prints per run: mean and slowest completion, the share of all bytes that
came from peers (sum of "from peers" / sum of sizes), what the origin sent
(in copies of the file), wrong files (a bad exit or a file that differs from
the origin's). At the end: the mean completion of each sharing run divided
by that of --no-share.

Usage: bench/peers/run_bench.py [--pdown PATH] [--procs 8] [--size-mib 256] [--rate-mib 8]
                                [--caps 1M,8M] [--runs share,noshare,liar,trickle] [--trickle 1,4,8]
                                [--work DIR] [--trace]
Defaults take about ten minutes. --procs takes a list (2,4,8,16).
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
PIECE = 4 * MiB
SUMMARY = "pdown: "


def parse_size(text):
    """Bytes per second: 1048576, 1M, 512K, 0 (no cap)."""
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper()
    if text and text[-1] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


def show_rate(value):
    return "none" if value == 0 else ("%g MiB/s" % (value / MiB))


def parse_summary(text):
    """(done, from peers, served) of pdown's closing line, or None."""
    for line in text.splitlines():
        if line.startswith(SUMMARY) and line.endswith(" served to peers"):
            words = line.split()
            try:
                return int(words[1]), int(words[3]), int(words[6])
            except (IndexError, ValueError):
                return None
    return None


def file_sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(8 * MiB), b""):
            h.update(block)
    return h.hexdigest()


class Swarm:
    """One run: `count` pdown processes started together."""

    def __init__(self, opts, origin, out_dir, count, extra, label):
        self.opts, self.origin, self.out_dir, self.count, self.extra, self.label = \
            opts, origin, out_dir, count, extra, label

    def run(self, sha, size, timeout):
        shutil.rmtree(self.out_dir, ignore_errors=True)
        os.makedirs(self.out_dir)
        env = dict(os.environ, P2SP_DEBUG="1") if self.opts.trace else None
        sent_before = self.origin.sent
        procs, targets, logs = [], [], []
        started = time.monotonic()
        for i in range(self.count):
            target = os.path.join(self.out_dir, "big-%d.bin" % i)
            log = subprocess.DEVNULL
            if self.opts.trace:
                name = "%d-%s-p%d.log" % (self.count, "".join(c if c.isalnum() else "_" for c in self.label), i)
                log = open(os.path.join(self.opts.logs, name), "wb")
            args = [self.opts.pdown, "--quiet", "--share-on", "127.0.0.1", "--linger", "3600"] + self.extra + \
                [self.origin.url("big.bin"), target]
            procs.append(subprocess.Popen(args, stdout=subprocess.PIPE, stderr=log, env=env))
            targets.append(target)
            logs.append(log)
        done_at = [None] * self.count
        while time.monotonic() - started < timeout:
            for i, (p, t) in enumerate(zip(procs, targets)):
                if done_at[i] is None and (p.poll() is not None or
                                           (os.path.exists(t) and not os.path.exists(t + ".P2P"))):
                    done_at[i] = time.monotonic() - started
            if all(d is not None for d in done_at):
                break
            time.sleep(0.05)
        # A file appears at its rename, a moment before pdown sees its task
        # finished: a signal then would stop the task, not the linger.
        time.sleep(1)
        for p in procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)  # ends the linger; the summary follows
        summaries, codes = [], []
        for p, log in zip(procs, logs):
            try:
                out, _ = p.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()
                out, _ = p.communicate()
            if log is not subprocess.DEVNULL:
                log.close()
            summaries.append(parse_summary(out.decode(errors="replace")))
            codes.append(p.returncode)
        wrong = 0
        for t, code, when in zip(targets, codes, done_at):
            if code != 0 or when is None or not os.path.exists(t) or file_sha256(t) != sha:
                wrong += 1
        times = [d for d in done_at if d is not None]
        peers = sum(s[1] for s in summaries if s)
        served = sum(s[2] for s in summaries if s)
        result = {
            "label": self.label,
            "mean": sum(times) / len(times) if times else float("nan"),
            "slowest": max(times) if times else float("nan"),
            "unfinished": self.count - len(times),
            "from_peers": peers / float(self.count * size),
            "served": served / float(size),
            "origin": (self.origin.sent - sent_before) / float(size),
            "wrong": wrong,
            "no_summary": sum(1 for s in summaries if s is None),
            "codes": codes,
        }
        for t in targets:
            for p in (t, t + ".P2P"):
                if os.path.exists(p):
                    os.unlink(p)
        return result


def report(n, r, extra=""):
    print("%2d procs, %-22s mean %6.1f s, slowest %6.1f s, from peers %5.1f %%, served %5.2f copies, "
          "origin %5.2f copies, wrong files %d%s%s" %
          (n, r["label"], r["mean"], r["slowest"], 100 * r["from_peers"], r["served"], r["origin"], r["wrong"],
           "" if not r["unfinished"] else ", %d unfinished" % r["unfinished"],
           "" if not r["no_summary"] else ", %d without summary" % r["no_summary"]) + extra)
    if r["wrong"]:
        print("   exit codes: %s" % r["codes"])
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pdown", default=os.path.join(ROOT, "build", "native", "bin", "pdown"))
    ap.add_argument("--procs", default="8", help="process counts, e.g. 2,4,8,16")
    ap.add_argument("--size-mib", type=int, default=256)
    ap.add_argument("--rate-mib", type=float, default=8, help="the origin's rate over all connections")
    ap.add_argument("--caps", default="1M,8M", help="upload caps per process for the sharing runs (0: none)")
    ap.add_argument("--runs", default="share,noshare,liar,trickle")
    ap.add_argument("--trickle", default="1,4,8", help="trickling peer counts for the trickle run")
    ap.add_argument("--timeout", type=float, default=0, help="seconds per run (default: 3x the no-share time)")
    ap.add_argument("--work", default=None)
    ap.add_argument("--trace", action="store_true", help="P2SP_DEBUG logs kept in the work folder")
    opts = ap.parse_args()
    opts.pdown = os.path.abspath(opts.pdown)
    counts = [int(x) for x in opts.procs.split(",")]
    caps = [parse_size(x) for x in opts.caps.split(",")]
    runs = set(opts.runs.split(","))
    size = opts.size_mib * MiB + 12345  # the last piece short
    rate = int(opts.rate_mib * MiB)

    work = tempfile.mkdtemp(prefix="p2sp-peers-bench-", dir=opts.work)
    opts.logs = os.path.join(work, "logs")
    os.makedirs(opts.logs)
    root = os.path.join(work, "srv")
    os.makedirs(root)
    path = os.path.join(root, "big.bin")
    rng = random.Random(random.SystemRandom().getrandbits(32))  # a new hash each run
    whole = hashlib.sha256()
    pieces = []
    with open(path, "wb") as f:
        left = size
        while left:
            block = rng.randbytes(min(PIECE, left))
            f.write(block)
            whole.update(block)
            pieces.append(hashlib.sha256(block).hexdigest())
            left -= len(block)
    sha = whole.hexdigest()
    with open(path + ".meta4", "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<metalink xmlns="urn:ietf:params:xml:ns:metalink">\n'
                '  <file name="big.bin">\n    <size>%d</size>\n    <hash type="sha-256">%s</hash>\n'
                '    <pieces length="%d" type="sha-256">\n%s    </pieces>\n  </file>\n</metalink>\n'
                % (size, sha, PIECE, "".join("      <hash>%s</hash>\n" % p for p in pieces)))
    origin = servers.ThrottledOrigin(root, rate).start()
    print("%d MiB + 12345 bytes, origin %s over all connections, pdown %s" % (opts.size_mib, show_rate(rate),
                                                                              opts.pdown))
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
    ratios = []
    try:
        for n in counts:
            timeout = opts.timeout or 3 * n * size / rate + 60
            out = os.path.join(work, "out")
            shared = {}
            if "share" in runs:
                for cap in caps:
                    label = "share, cap %s" % show_rate(cap)
                    shared[cap] = Swarm(opts, origin, out, n, ["--upload-cap", str(cap)], label).run(sha, size,
                                                                                                   timeout)
                    report(n, shared[cap])
            plain = None
            if "noshare" in runs:
                plain = Swarm(opts, origin, out, n, ["--no-share"], "--no-share").run(sha, size, timeout)
                report(n, plain)
            if "liar" in runs:
                liar = servers.FakePeer(path, sha, piece=PIECE, mode="lie").start()
                try:
                    r = Swarm(opts, origin, out, n - 1, ["--upload-cap", str(caps[0])],
                              "+ 1 lying, cap %s" % show_rate(caps[0])).run(sha, size, timeout)
                finally:
                    liar.stop()
                # "from peers" counts the liar's bytes too, thrown away or not.
                honest = max(0.0, r["from_peers"] - liar.bytes_sent / float((n - 1) * size))
                report(n - 1, r, ", the liar sent %.1f MiB in %d answers; from honest peers >= %.1f %%"
                       % (liar.bytes_sent / MiB, liar.answers, 100 * honest))
                ratios.append(("%d procs, 1 lying: wrong files (must be 0)" % n, r["wrong"], "%d"))
            if "trickle" in runs and n == counts[0]:
                alone = Swarm(opts, origin, out, 1, [], "alone").run(sha, size, timeout)
                report(1, alone)
                for k in [int(x) for x in opts.trickle.split(",")]:
                    for mode in ("trickle", "tricklelie"):
                        fakes = [servers.FakePeer(path, sha, piece=PIECE, mode=mode, period=1.0).start()
                                 for _ in range(k)]
                        try:
                            r = Swarm(opts, origin, out, 1, [], "+ %d %s" % (k, mode)).run(sha, size, timeout)
                        finally:
                            for f in fakes:
                                f.stop()
                        report(1, r, ", asked %d times" % sum(len(f.byte_requests()) for f in fakes))
                        ratios.append(("1 proc + %d %s / alone (goal <= 1.2)" % (k, mode),
                                       r["slowest"] / alone["slowest"], "%.3f"))
            if plain:
                for cap, r in shared.items():
                    ratios.append(("%d procs, mean share cap %s / --no-share" % (n, show_rate(cap)),
                                   r["mean"] / plain["mean"], "%.3f"))
            for cap, r in shared.items():
                ratios.append(("%d procs, share cap %s: bytes from peers" % (n, show_rate(cap)),
                               r["from_peers"], "%.3f"))
    finally:
        origin.stop()
        if opts.trace:
            shutil.rmtree(root, ignore_errors=True)
            print("traces kept in", opts.logs)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print()
    print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
    for name, value, form in ratios:
        print("%-52s %s" % (name, form % value))


if __name__ == "__main__":
    main()
