#!/usr/bin/env python3
"""pdown processes sharing one file with each other on loopback, and fake
peers that lie, refuse or vanish. The origin is held to a few MiB/s over all
its connections, so that peers are worth asking. Every process shares only on
127.0.0.1 and every multicast socket here is held to it, one hop.

Usage: test_peers.py --pdown PATH [unittest arguments]
"""
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import servers  # noqa: E402

PDOWN = None
MiB = 1 << 20
PIECE = 4 * MiB
SIZE = 30 * MiB + 12345  # 8 pieces, the last one short
RATE = 4 * MiB  # the origin, all connections together
SUMMARY = re.compile(r"^pdown: (\d+) bytes, (\d+) from peers, (\d+) served to peers$", re.M)


def listening_ports(pid):
    """TCP ports a process listens on (its socket inodes in /proc/net/tcp)."""
    inodes = set()
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                link = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            except OSError:
                continue
            if link.startswith("socket:["):
                inodes.add(link[8:-1])
        with open("/proc/net/tcp") as f:
            rows = [line.split() for line in f.readlines()[1:]]
    except OSError:
        return set()
    return {int(r[1].split(":")[1], 16) for r in rows if r[3] == "0A" and r[9] in inodes}


class Run:
    """One pdown process, traced into its own log."""

    def __init__(self, name, link, target, extra, log_dir):
        self.name = name
        self.target = target
        self.log = os.path.join(log_dir, name + ".log")
        self.ports = set()
        self.started = time.monotonic()
        args = [PDOWN, "--quiet", "--share-on", "127.0.0.1", "--stall-timeout", "3"] + list(extra) + [link, target]
        with open(self.log, "wb") as err:
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=err,
                                         env=dict(os.environ, P2SP_DEBUG="1"))
        self.code = None
        self.summary = None
        self.took = None

    def wait(self, bound):
        """Exit status, or None when it was still running after `bound` seconds (then killed)."""
        deadline = self.started + bound
        while self.proc.poll() is None and time.monotonic() < deadline:
            self.ports |= listening_ports(self.proc.pid)
            time.sleep(0.1)
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
            self.proc.stdout.close()
            return None
        self.took = time.monotonic() - self.started
        self.code = self.proc.returncode
        with self.proc.stdout:
            m = SUMMARY.search(self.proc.stdout.read().decode(errors="replace"))
        self.summary = tuple(int(x) for x in m.groups()) if m else None
        return self.code

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)

    def tail(self, lines=25):
        with open(self.log, "rb") as f:
            text = f.read().decode(errors="replace").splitlines()
        return "\n--- %s, last lines of its trace:\n%s" % (self.name, "\n".join(text[-lines:]))


class PeerCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="p2sp-peers-root-")
        # A new file every run: its hash names it on the group, apart from
        # anything else announced on this machine.
        cls.data = servers.make_data(SIZE, seed=random.SystemRandom().getrandbits(32))
        cls.sha = hashlib.sha256(cls.data).hexdigest()
        cls.path = os.path.join(cls.root, "file.bin")
        with open(cls.path, "wb") as f:
            f.write(cls.data)
        with open(cls.path + ".meta4", "wb") as f:
            f.write(servers.meta4(cls.data, piece=PIECE))
        os.link(cls.path, os.path.join(cls.root, "plain.bin"))  # the same file without a manifest
        cls.origin = servers.ThrottledOrigin(cls.root, RATE).start()
        cls.listener = servers.AnnounceListener().start()

    @classmethod
    def tearDownClass(cls):
        cls.origin.stop()
        cls.listener.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="p2sp-peers-out-")
        self.fakes = []

    def tearDown(self):
        for fake in self.fakes:
            fake.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, name, file="file.bin", *extra):
        return Run(name, self.origin.url(file), os.path.join(self.dir, name + ".bin"), extra, self.dir)

    def fake(self, mode):
        fake = servers.FakePeer(self.path, self.sha, piece=PIECE, mode=mode, period=0.5).start()
        self.fakes.append(fake)
        return fake

    def finish(self, run, case, bound=60):
        """Waits for `run` and checks it ended with the origin's bytes."""
        code = run.wait(bound)
        self.assertIsNotNone(code, "%s: %s still running after %d s%s" % (case, run.name, bound, run.tail()))
        self.assertEqual(code, 0, "%s: %s exit status%s" % (case, run.name, run.tail()))
        self.assertIsNotNone(run.summary, "%s: %s printed no summary%s" % (case, run.name, run.tail()))
        with open(run.target, "rb") as f:
            self.assertTrue(f.read() == self.data, "%s: %s differs from the origin's file" % (case, run.name))
        return run.summary

    def announces_of(self, run, since, fake=None):
        """What the listener heard from `run` since `since`: announces of our
        file, or naming one of its ports, that are not the fake peer's."""
        return [h for h in self.listener.announces() if h[0] >= since and (h[1] == self.sha or h[2] in run.ports)
                and not (fake and h[3] == fake.instance)]

    def test_later_players_fetch_from_earlier_ones(self):
        case = "later players"
        sent = self.origin.sent
        first = self.start("first", "file.bin", "--linger", "60")
        time.sleep(3)
        later = [self.start("later%d" % i) for i in (1, 2)]
        for run in later:
            self.finish(run, case, bound=90)
        first.stop()  # ends its linger
        self.finish(first, case, bound=120)
        for run in later:
            self.assertGreater(run.summary[1], 0, "%s: %s took no byte from peers%s" % (case, run.name, run.tail()))
        served = sum(r.summary[2] for r in [first] + later)
        self.assertGreater(served, 0, "%s: nobody served anything" % case)
        self.assertLess(self.origin.sent - sent, 3 * SIZE, "%s: the origin sent every copy" % case)

    def test_a_peer_serving_a_flipped_byte(self):
        case = "flipped byte"
        fake = self.fake("flip")
        run = self.start("flip")
        self.finish(run, case)
        self.assertTrue(fake.bad_sent, "%s: the peer was never asked for its bad piece%s" % (case, run.tail()))
        late = [r for r in fake.byte_requests() if r[0] > fake.bad_sent[-1] + 3]
        self.assertEqual(late, [], "%s: the peer was still asked after its bad piece%s" % (case, run.tail()))

    def test_peers_that_refuse_or_vanish(self):
        # The map claims every piece; then every request is refused, the
        # peer is killed during its first answer, or it stalls in it.
        for mode in ("refuse", "killed", "stall"):
            with self.subTest(mode=mode):
                fake = self.fake(mode)
                run = self.start(mode)
                self.finish(run, mode, bound=60)
                self.assertTrue(fake.byte_requests(), "%s: the peer was never asked%s" % (mode, run.tail()))
                fake.stop()

    def test_peers_that_trickle(self):
        # Peers that answer every request and then send 2 bytes a second,
        # right or wrong ones, must not hold the download: the origin alone
        # takes SIZE / RATE seconds.
        alone = SIZE / RATE
        for mode, count in (("trickle", 1), ("tricklelie", 4)):
            with self.subTest(mode=mode, peers=count):
                fakes = [self.fake(mode) for _ in range(count)]
                run = self.start("%s%d" % (mode, count))
                self.finish(run, mode, bound=3 * alone + 10)
                self.assertTrue(any(f.byte_requests() for f in fakes), "%s: the peers were never asked%s"
                                % (mode, run.tail()))
                for f in fakes:
                    f.stop()

    def test_a_peer_that_redirects(self):
        # A player answers for itself: its redirect is not followed anywhere,
        # and it is not asked again whatever it announces.
        case = "redirect"
        victim = servers.FakePeer(self.path, "0" * 64, piece=PIECE, period=3600).start()
        self.fakes.append(victim)
        fake = self.fake("redirect")
        fake.redirect_to = "http://127.0.0.1:%d" % victim.port
        run = self.start("redirect")
        self.finish(run, case)
        self.assertEqual(victim.requests, [], "%s: the redirect was followed%s" % (case, run.tail()))
        self.assertEqual(len(fake.requests), 1, "%s: the peer was asked again%s" % (case, run.tail()))

    def test_a_peer_heard_before_its_map_is_ready(self):
        # Players starting together hear each other before every one of them
        # can answer for its file; such a peer announces again and must then
        # be used.
        case = "map not ready"
        fake = self.fake("late")
        run = self.start("late")
        _, peers, _ = self.finish(run, case)
        maps = [r for r in fake.requests if r[1] == "m"]
        self.assertTrue(maps, "%s: the peer's map was never asked for%s" % (case, run.tail()))
        self.assertGreater(peers, 0, "%s: the peer was never used after its first map request failed%s"
                           % (case, run.tail()))

    def test_no_share_serves_and_announces_nothing(self):
        case = "--no-share"
        fake = self.fake("ok")
        since = time.monotonic()
        run = self.start("noshare", "file.bin", "--no-share")
        _, peers, served = self.finish(run, case)
        time.sleep(1)
        self.assertTrue([h for h in self.listener.announces(self.sha) if h[3] == fake.instance],
                        "%s: the listener heard nothing, not even the fake peer" % case)
        self.assertEqual(self.announces_of(run, since, fake), [], "%s: it announced" % case)
        self.assertEqual(served, 0, "%s: it served bytes" % case)
        self.assertGreater(peers, 0, "%s: it took nothing from the peer%s" % (case, run.tail()))

    def test_without_a_manifest_nothing_is_shared(self):
        case = "no manifest"
        fake = self.fake("ok")  # announces the same file, which pdown cannot name
        since = time.monotonic()
        run = self.start("plain", "plain.bin")
        _, peers, served = self.finish(run, case)
        time.sleep(1)
        self.assertEqual(self.announces_of(run, since, fake), [], "%s: it announced" % case)
        self.assertEqual((peers, served), (0, 0), "%s: bytes from or to peers" % case)
        self.assertEqual(fake.byte_requests(), [], "%s: the peer was asked" % case)


if __name__ == "__main__":
    args = sys.argv[1:]
    if "--pdown" in args:
        i = args.index("--pdown")
        PDOWN = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    else:
        PDOWN = os.path.join(os.path.dirname(__file__), "..", "..", "build", "native", "bin", "pdown")
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
