#!/usr/bin/env python3
"""pdown against real servers on loopback: nginx, and a server that misbehaves
on purpose. Each case ends with the right file, or with exit status 5/6 and
no target file.

Usage: test_pdown.py --pdown PATH [unittest arguments]
"""
import os
import random
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


class PdownCase(unittest.TestCase):
    SIZE = 12 * MiB + 4321
    RATE = "20m"  # /rate/ on nginx, per connection

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="p2sp-root-")
        cls.data = servers.make_data(cls.SIZE, seed=3)
        with open(os.path.join(cls.root, "file.bin"), "wb") as f:
            f.write(cls.data)
        cls.h1 = servers.md5_tail(cls.data)
        cls.nginx = servers.Nginx(cls.root, rate=cls.RATE).start()
        cls.faults = servers.FaultServer().start()
        cls.faults.data = cls.data

    @classmethod
    def tearDownClass(cls):
        cls.nginx.stop()
        cls.faults.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="p2sp-out-")
        self.target = os.path.join(self.dir, "game.bin")
        self.faults.reset_counts()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def pdown(self, link, *extra, timeout=60, target=None):
        args = [PDOWN, "--quiet", "--stall-timeout", "3", "--retries", "3"] + list(extra) + [link, target or self.target]
        started = time.time()
        proc = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return proc.returncode, time.time() - started

    def pdown_link(self, url, h1=True):
        return "PDown://b7=1|%s|h1=%s" % (url, self.h1) if h1 else url

    def assert_right_file(self, target=None):
        target = target or self.target
        self.assertTrue(os.path.exists(target), "no target file")
        with open(target, "rb") as f:
            got = f.read()
        self.assertEqual(len(got), len(self.data))
        self.assertTrue(got == self.data, "content differs")
        self.assertFalse(os.path.exists(target + ".P2P"), "side file left behind")

    def start(self, link, *extra, running=None):
        """Starts pdown; with `running`, returns once it has run that many
        seconds past making its side file (a loaded machine starts it late)."""
        proc = subprocess.Popen([PDOWN, "--quiet"] + list(extra) + [link, self.target],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if running is not None:
            deadline = time.time() + 60
            while not os.path.exists(self.target + ".P2P") and time.time() < deadline and proc.poll() is None:
                time.sleep(0.05)
            time.sleep(running)
        return proc

    def assert_no_target(self):
        self.assertFalse(os.path.exists(self.target), "a target file was made")


class HonestServers(PdownCase):
    def test_nginx_with_and_without_h1(self):
        code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")))
        self.assertEqual(code, 0)
        self.assert_right_file()
        os.unlink(self.target)
        code, _ = self.pdown(self.nginx.url("file.bin"))
        self.assertEqual(code, 0)
        self.assert_right_file()

    def test_replaces_an_existing_target_only_when_the_check_passes(self):
        with open(self.target, "wb") as f:
            f.write(b"old broken file")
        wrong = "PDown://b7=1|%s|h1=%s" % (self.nginx.url("file.bin"), "0" * 32)
        code, _ = self.pdown(wrong)
        self.assertEqual(code, 6)
        with open(self.target, "rb") as f:
            self.assertEqual(f.read(), b"old broken file")
        self.assertFalse(os.path.exists(self.target + ".P2P"))
        code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")))
        self.assertEqual(code, 0)
        self.assert_right_file()

    def test_the_speed_cap_holds_every_connection_together(self):
        # 12 MiB at 4 MiB/s cannot take less than about 3 s, whatever the load.
        code, took = self.pdown(self.nginx.url("file.bin"), "--max-speed", str(4 * MiB))
        self.assertEqual(code, 0)
        self.assert_right_file()
        self.assertGreater(took, 2.5)

    def test_empty_file(self):
        open(os.path.join(self.root, "empty.bin"), "wb").close()
        code, _ = self.pdown(self.nginx.url("empty.bin"))
        self.assertEqual(code, 0)
        self.assertEqual(os.path.getsize(self.target), 0)

    def test_missing_file_fails_without_target(self):
        code, took = self.pdown(self.pdown_link(self.nginx.url("nothing.bin")))
        self.assertEqual(code, 5)
        self.assert_no_target()
        self.assertLess(took, 30)

    def test_unreachable_server_fails(self):
        port = servers.free_port()
        code, _ = self.pdown("http://127.0.0.1:%d/x.bin" % port)
        self.assertEqual(code, 5)
        self.assert_no_target()

    def test_target_in_missing_folder_fails(self):
        code, _ = self.pdown(self.nginx.url("file.bin"), target=os.path.join(self.dir, "no", "such", "x.bin"))
        self.assertEqual(code, 5)


class Faults(PdownCase):
    def expect_right_file(self, mode, h1=True, max_seconds=40):
        code, took = self.pdown(self.pdown_link(self.faults.url(mode), h1))
        self.assertEqual(code, 0, mode)
        self.assert_right_file()
        self.assertLess(took, max_seconds, mode)
        return took

    def test_resets_mid_body(self):
        self.expect_right_file("reset")
        self.assertGreater(self.faults.counts["reset"], 40)  # many cut answers, all resumed

    def test_200_for_a_range_request_gives_one_stream(self):
        self.expect_right_file("norange")
        self.assertEqual(self.faults.counts["norange"], 1)
        # Ranges dropped only after the first answer, by every connection at
        # once: still one stream from the start, not a failed source.
        code, _ = self.pdown(self.pdown_link(self.faults.url("laterwhole")), "--connections", "8")
        self.assertEqual(code, 0)
        self.assert_right_file()

    def test_wrong_content_range_is_discarded_and_fetched_again(self):
        self.expect_right_file("badrange")
        self.assertGreaterEqual(self.faults.counts["badrange"], 2)  # the refused answer and the retry

    def test_refusals_landing_together_count_as_one_failure(self):
        # More refusals at once than --retries 3 allows, with nothing gained
        # between them: requests sent together fail as one round.
        self.expect_right_file("badburst")
        self.assertGreater(len(self.faults.spans["badburst"]), servers.BURST + 1)

    def test_short_bodies(self):
        self.expect_right_file("short")

    def test_503_before_success(self):
        self.expect_right_file("busy")

    def test_stall_is_timed_out_and_retried(self):
        took = self.expect_right_file("stall")
        self.assertGreater(took, 2)  # it did wait for the stall to show

    def test_redirect(self):
        self.expect_right_file("redirect")
        self.assertGreater(self.faults.counts["ok"], 0)

    def test_no_length_and_chunked(self):
        self.expect_right_file("nolength")
        os.unlink(self.target)
        self.expect_right_file("chunked")
        os.unlink(self.target)
        self.expect_right_file("chunked", h1=False)

    def test_flipped_bytes_fail_the_check(self):
        code, _ = self.pdown(self.pdown_link(self.faults.url("flip")))
        self.assertEqual(code, 6)
        self.assert_no_target()
        self.assertFalse(os.path.exists(self.target + ".P2P"))

    def test_404_fails(self):
        code, _ = self.pdown(self.pdown_link(self.faults.url("missing")))
        self.assertEqual(code, 5)
        self.assert_no_target()


class Sources(PdownCase):
    def test_a_lying_extra_source_is_dropped(self):
        self.faults.seed_lines = [self.faults.url("lie"), "# comment", "ftp://ignored/x"]
        seed = "http://127.0.0.1:%d/seed" % self.faults.port
        code, _ = self.pdown(self.pdown_link(self.nginx.url("slow/file.bin")), "--seed", seed, "--connections", "2")
        self.assertEqual(code, 0)
        self.assert_right_file()
        self.assertGreater(self.faults.bytes.get("lie", 0), 0, "the extra source was never used")
        query = self.faults.seed_queries[0]
        self.assertEqual(query["h1"], [self.h1])
        self.assertEqual(query["name"], ["file.bin"])
        self.assertEqual(query["size"], [str(len(self.data))])

    def test_an_honest_extra_source_carries_part_of_the_file(self):
        self.faults.seed_lines = [self.faults.url("ok")]
        seed = "http://127.0.0.1:%d/seed" % self.faults.port
        code, _ = self.pdown(self.pdown_link(self.nginx.url("slow/file.bin")), "--seed", seed, "--connections", "2")
        self.assertEqual(code, 0)
        self.assert_right_file()
        self.assertGreater(self.faults.bytes.get("ok", 0), 1 * MiB)

    def test_a_source_of_another_size_is_not_used(self):
        other = os.path.join(self.root, "other.bin")
        with open(other, "wb") as f:
            f.write(self.data[:-1])
        self.faults.seed_lines = [self.nginx.url("other.bin")]
        seed = "http://127.0.0.1:%d/seed" % self.faults.port
        code, _ = self.pdown(self.pdown_link(self.faults.url("ok")), "--seed", seed)
        self.assertEqual(code, 0)
        self.assert_right_file()

    def test_a_dead_seed_service_costs_no_time(self):
        seed = "http://127.0.0.1:%d/seed" % servers.free_port()
        code, took = self.pdown(self.pdown_link(self.nginx.url("file.bin")), "--seed", seed)
        self.assertEqual(code, 0)
        self.assert_right_file()
        self.assertLess(took, 5)


class Manifests(PdownCase):
    """With a <file>.meta4 beside the file every piece is checked, whoever
    served it; mirrors then may serve any part."""

    def setUp(self):
        super().setUp()
        self.meta = os.path.join(self.root, "file.bin.meta4")
        self.faults.meta4.clear()
        self.faults.stale_data = servers.make_data(len(self.data), seed=8)

    def tearDown(self):
        if os.path.exists(self.meta):
            os.unlink(self.meta)
        super().tearDown()

    def serve_meta4(self, urls=(), **kw):
        text = servers.meta4(self.data, urls=urls, **kw)
        with open(self.meta, "wb") as f:
            f.write(text)
        return text

    def run_traced(self, link, *extra):
        proc = subprocess.run([PDOWN, "--quiet", "--stall-timeout", "3", "--retries", "3"] + list(extra) +
                              [link, self.target], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=dict(os.environ, P2SP_DEBUG="1"), timeout=120)
        return proc.returncode, proc.stderr.decode(errors="replace")

    def test_a_file_at_the_target_costs_only_the_pieces_it_lacks(self):
        # A damaged copy, an earlier version, pieces moved, a cut copy, an
        # unrelated file: only pieces that match none of the target's are fetched.
        meta = self.serve_meta4()
        piece = 1 << 20
        count = (len(self.data) + piece - 1) // piece
        pieces = [self.data[i * piece:(i + 1) * piece] for i in range(count)]
        other = servers.make_data(len(self.data), seed=11)
        flipped = bytearray(self.data)
        flipped[5 * piece + 7] ^= 0x40
        older = bytearray(self.data)
        for at in (10, 6 * piece + 3, len(self.data) - 5):
            older[at] ^= 1
        moved = pieces[:2] + [pieces[9]] + pieces[3:9] + [pieces[2]] + pieces[10:]
        cases = [
            ("one flipped byte", bytes(flipped), piece),
            ("three changed pieces", bytes(older), 2 * piece + len(pieces[-1])),
            ("pieces in other places", b"".join(moved), 0),
            ("a cut copy", self.data[:5 * piece + 100], len(self.data) - 5 * piece),
            ("another file", other, len(self.data)),
        ]
        for name, old, fetched in cases:
            with self.subTest(name):
                with open(self.target, "wb") as f:
                    f.write(old)
                self.nginx.clear_log()
                code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")))
                self.assertEqual(code, 0, name)
                self.assert_right_file()
                served = self.nginx.bytes_served() - len(meta)
                self.assertLessEqual(served, fetched + 64 * 1024, name)
                self.assertGreaterEqual(served, fetched, name)

    def pieces_missing_from(self, old, piece=1 << 20):
        # Bytes of the file none of whose aligned pieces `old` holds.
        have = {old[at:at + piece] for at in range(0, len(old), piece)}
        return sum(len(p) for p in (self.data[at:at + piece] for at in range(0, len(self.data), piece))
                   if p not in have)

    def test_a_side_file_left_by_another_download_gives_its_pieces(self):
        # Stopped half-way (its record names another link), or killed after
        # its record was cut (a whole file of another size).
        self.serve_meta4()
        older = bytearray(self.data)
        for at in (10, 6 * (1 << 20) + 3):
            older[at] ^= 1
        old_path = os.path.join(self.root, "old.bin")
        with open(old_path, "wb") as f:
            f.write(bytes(older) + b"x" * 100)
        self.addCleanup(os.unlink, old_path)
        side = self.target + ".P2P"
        for name in ("stopped half-way", "killed before the rename"):
            with self.subTest(name):
                if name == "stopped half-way":
                    proc = self.start(self.nginx.url("old.bin"), "--connections", "1", "--max-speed", str(4 << 20),
                                      running=2.5)
                    proc.send_signal(signal.SIGINT)
                    proc.wait(timeout=30)
                else:
                    env = dict(os.environ, P2SP_FAULT="before-rename")
                    subprocess.run([PDOWN, "--quiet", self.nginx.url("old.bin"), self.target], env=env)
                self.assertTrue(os.path.exists(side), name)
                self.assert_no_target()
                with open(side, "rb") as f:
                    fetched = self.pieces_missing_from(f.read())
                self.assertLess(fetched, len(self.data) - 2 * (1 << 20), name + ": the old download held too little")
                self.nginx.clear_log()
                code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")))
                self.assertEqual(code, 0, name)
                self.assert_right_file()
                self.assertFalse(os.path.exists(side + ".old"), name)
                served = self.nginx.bytes_served() - os.path.getsize(self.meta)
                self.assertGreaterEqual(served, fetched, name)
                self.assertLessEqual(served, fetched + 64 * 1024, name)
                os.unlink(self.target)

    def test_an_old_copy_given_up_goes_once_it_was_read(self):
        # --discard-old-target: the copy is set aside at once; with a manifest
        # it goes after its pieces are on record (a stop then loses none of
        # them), without one as soon as that is known.
        flipped = bytearray(self.data)
        flipped[5 * (1 << 20) + 7] ^= 0x40
        for with_manifest in (True, False):
            with self.subTest(with_manifest=with_manifest):
                if with_manifest:
                    self.serve_meta4()
                elif os.path.exists(self.meta):
                    os.unlink(self.meta)
                with open(self.target, "wb") as f:
                    f.write(bytes(flipped))
                self.nginx.clear_log()
                proc = self.start(self.pdown_link(self.nginx.url("file.bin")), "--discard-old-target",
                                  "--max-speed", str(256 * 1024), running=0)
                aside = self.target + ".P2P.old"
                deadline = time.time() + 10
                while (os.path.exists(self.target) or os.path.exists(aside)) and time.time() < deadline:
                    time.sleep(0.02)
                self.assertIsNone(proc.poll(), "pdown ended early")
                self.assertFalse(os.path.exists(self.target) or os.path.exists(aside), "the old copy stayed")
                proc.send_signal(signal.SIGINT)
                proc.wait(timeout=30)
                self.nginx.clear_log()
                code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")))
                self.assertEqual(code, 0)
                self.assert_right_file()
                served = self.nginx.bytes_served()
                if with_manifest:
                    self.assertLess(served, 2 * (1 << 20), "pieces read from the old copy were lost")
                os.unlink(self.target)

    def test_bad_mirrors_are_dropped_and_the_file_is_right(self):
        # Mirrors named by the manifest, lying everywhere or serving an older
        # build of the same size; the link is slow, so they are asked a lot.
        for mode in ("lie", "stale"):
            with self.subTest(mode=mode):
                self.faults.reset_counts()
                self.serve_meta4(urls=[self.faults.url(mode)])
                code, err = self.run_traced(self.nginx.url("slow/file.bin"), "--connections", "4")
                self.assertEqual(code, 0, err[-2000:])
                self.assert_right_file()
                self.assertGreater(self.faults.bytes.get(mode, 0), 0, "the mirror was never used")
                self.assertIn("dropping " + self.faults.url(mode), err)
                os.unlink(self.target)

    def test_a_truthful_fast_mirror_serves_most_of_the_file(self):
        # Bytes already asked of the slow link stay there (a first request of
        # 2 MiB per connection), so the link keeps few connections here.
        self.serve_meta4(urls=[self.faults.url("ok")])
        code, err = self.run_traced(self.nginx.url("slow/file.bin"), "--connections", "2")
        self.assertEqual(code, 0, err[-2000:])
        self.assert_right_file()
        self.assertGreater(self.faults.bytes.get("ok", 0), len(self.data) // 2)
        self.assertIn("manifest: 13 pieces", err)

    def test_a_link_server_corrupting_one_piece(self):
        # With a mirror the piece comes from there; without, the second bad
        # copy ends the task in state 6 and no target is made.
        self.faults.meta4["badpiece"] = servers.meta4(self.data, urls=[self.nginx.url("file.bin")])
        code, err = self.run_traced(self.faults.url("badpiece"))
        self.assertEqual(code, 0, err[-2000:])
        self.assert_right_file()
        os.unlink(self.target)
        self.faults.meta4["badpiece"] = servers.meta4(self.data)
        code, err = self.run_traced(self.faults.url("badpiece"))
        self.assertEqual(code, 6, err[-2000:])
        self.assert_no_target()
        self.assertFalse(os.path.exists(self.target + ".P2P"))

    def test_a_link_header_names_the_manifest(self):
        self.faults.meta4["manifest"] = servers.meta4(self.data)
        code, err = self.run_traced(self.faults.url("described"))
        self.assertEqual(code, 0, err[-2000:])
        self.assert_right_file()
        self.assertIn("asking for a manifest: %s.meta4" % self.faults.url("manifest"), err)
        self.assertIn("manifest: 13 pieces", err)

    def test_manifests_that_do_not_apply_are_ignored(self):
        cases = [
            (None, "no manifest"),
            (b"<metalink><file", "manifest ignored: not well-formed"),
            (servers.meta4(self.data, size=len(self.data) + 1), "manifest ignored: it names"),
            (servers.meta4(self.data, piece=1000), "manifest ignored: piece length"),
        ]
        for text, trace in cases:
            with self.subTest(trace=trace):
                if text is None:
                    self.faults.meta4.pop("ok", None)
                else:
                    self.faults.meta4["ok"] = text
                code, err = self.run_traced(self.pdown_link(self.faults.url("ok")))
                self.assertEqual(code, 0, err[-2000:])
                self.assert_right_file()
                self.assertIn(trace, err)
                os.unlink(self.target)

    def test_unchecked_mirror_bytes_are_not_trusted_when_the_manifest_is_gone(self):
        # Killed while a slow lying mirror's piece waits for its last bytes;
        # the next run finds no manifest and must not keep the bytes it has
        # (plain link: no h1 to catch them).
        self.serve_meta4(urls=[self.faults.url("slowlie")])
        link = self.nginx.url("slow/file.bin")
        proc = subprocess.Popen([PDOWN, "--quiet", "--connections", "2", link, self.target],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while not self.faults.bytes.get("slowlie") and time.time() < deadline and proc.poll() is None:
            time.sleep(0.05)
        time.sleep(0.3)
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        self.assertGreater(self.faults.bytes.get("slowlie", 0), 0, "the mirror was never used")
        os.unlink(self.meta)
        code, err = self.run_traced(link)
        self.assertEqual(code, 0, err[-2000:])
        self.assert_right_file()
        self.assertIn("fetching again", err)

    def test_kill_9_with_a_lying_mirror_always_ends_right(self):
        rng = random.Random(5)
        self.serve_meta4(urls=[self.faults.url("lie")])
        link = self.nginx.url("slow/file.bin")
        for _ in range(5):
            proc = subprocess.Popen([PDOWN, "--quiet", "--connections", "4", link, self.target],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.2, 1.5))
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            if os.path.exists(self.target):
                break
        code, _ = self.pdown(link, timeout=120)
        self.assertEqual(code, 0)
        self.assert_right_file()


class Interruptions(PdownCase):
    def test_kill_9_at_random_moments_always_ends_with_the_right_file(self):
        rng = random.Random(11)
        link = self.pdown_link(self.nginx.url("slow/file.bin"))
        self.nginx.clear_log()
        for _ in range(6):
            proc = self.start(link)
            time.sleep(rng.uniform(0.1, 0.9))
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            if os.path.exists(self.target):
                break
        code, _ = self.pdown(link, timeout=120)
        self.assertEqual(code, 0)
        self.assert_right_file()
        served = self.nginx.bytes_served()
        self.assertLess(served, 2.5 * len(self.data), "resumes re-fetched far too much")

    def test_a_kill_after_the_record_is_cut_keeps_the_complete_file(self):
        # The record is cut off the checked file just before the rename; a kill
        # there leaves a complete side file without a record.
        url = self.nginx.url("file.bin")
        for again in (self.pdown_link(url), url):
            env = dict(os.environ, P2SP_FAULT="before-rename")
            proc = subprocess.run([PDOWN, "--quiet", self.pdown_link(url), self.target], env=env)
            self.assertEqual(proc.returncode, 9)
            self.assertEqual(os.path.getsize(self.target + ".P2P"), len(self.data))
            self.assert_no_target()
            self.nginx.clear_log()
            code, _ = self.pdown(again)
            self.assertEqual(code, 0)
            self.assert_right_file()
            self.assertLess(self.nginx.bytes_served(), len(self.data) // 2, "the file was fetched again")
            os.unlink(self.target)

    def test_stop_keeps_progress_and_a_new_run_resumes(self):
        link = self.pdown_link(self.nginx.url("slow/file.bin"))
        proc = self.start(link, "--connections", "2", running=2.5)
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(10), 3)
        self.assertTrue(os.path.exists(self.target + ".P2P"))
        self.assert_no_target()
        self.nginx.clear_log()
        code, _ = self.pdown(link)
        self.assertEqual(code, 0)
        self.assert_right_file()
        self.assertLess(self.nginx.bytes_served(), len(self.data) - MiB, "nothing was resumed")

    def test_resume_with_the_plain_link_keeps_the_check(self):
        # The program re-creates tasks with the plain link; the h1 of the first
        # run still applies to the finished file.
        wrong = "PDown://b7=1|%s|h1=%s" % (self.nginx.url("slow/file.bin"), "f" * 32)
        proc = self.start(wrong, running=1.0)
        proc.send_signal(signal.SIGTERM)
        proc.wait(10)
        code, _ = self.pdown(self.nginx.url("slow/file.bin"))
        self.assertEqual(code, 6)
        self.assert_no_target()

    def test_a_damaged_record_starts_over_and_still_ends_right(self):
        link = self.pdown_link(self.nginx.url("slow/file.bin"))
        proc = self.start(link, running=1.0)
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        side = self.target + ".P2P"
        with open(side, "r+b") as f:
            f.seek(0, 2)
            end = f.tell()
            for slot in (end - 16384, end - 8192):
                f.seek(slot + 70)
                f.write(b"\xee\xee")
        code, _ = self.pdown(link)
        self.assertEqual(code, 0)
        self.assert_right_file()

    def test_a_record_for_another_link_starts_over(self):
        link = self.pdown_link(self.nginx.url("slow/file.bin"))
        proc = self.start(link, running=1.0)
        proc.send_signal(signal.SIGTERM)
        proc.wait(10)
        # Same target, other file: nothing of the first may leak into it.
        other = servers.make_data(3 * MiB, seed=9)
        with open(os.path.join(self.root, "other3.bin"), "wb") as f:
            f.write(other)
        code, _ = self.pdown(self.nginx.url("other3.bin"))
        self.assertEqual(code, 0)
        with open(self.target, "rb") as f:
            self.assertTrue(f.read() == other)


class LargeFile(PdownCase):
    """Above 50 MiB the check covers only the tail, which is fetched first and
    hashed while the rest arrives; these cases make that hash go stale."""
    SIZE = 60 * MiB + 12345
    RATE = "3m"

    def test_checked_while_it_arrives_and_a_wrong_h1_still_fails(self):
        code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")))
        self.assertEqual(code, 0)
        self.assert_right_file()
        os.unlink(self.target)
        code, _ = self.pdown("PDown://b7=1|%s|h1=%s" % (self.nginx.url("file.bin"), "0" * 32))
        self.assertEqual(code, 6)
        self.assert_no_target()

    def test_a_lying_source_in_the_tail_is_dropped_and_its_bytes_fetched_again(self):
        self.faults.seed_lines = [self.faults.url("lie")]
        seed = "http://127.0.0.1:%d/seed" % self.faults.port
        code, _ = self.pdown(self.pdown_link(self.nginx.url("rate/file.bin")), "--seed", seed,
                             "--connections", "4", timeout=120)
        self.assertEqual(code, 0)
        self.assert_right_file()
        self.assertGreater(self.faults.bytes.get("lie", 0), 0, "the extra source was never used")

    def test_a_mirror_lying_before_the_tail_serves_only_the_checked_tail(self):
        # Without a manifest nothing checks the bytes before the tail: the link's
        # server brings those, whatever a faster mirror offers.
        self.faults.seed_lines = [self.faults.url("pretail")]
        seed = "http://127.0.0.1:%d/seed" % self.faults.port
        code, _ = self.pdown(self.pdown_link(self.nginx.url("slow/file.bin")), "--seed", seed,
                             "--connections", "8", timeout=120)
        self.assertEqual(code, 0)
        self.assert_right_file()
        spans = self.faults.spans.get("pretail", [])
        self.assertTrue(spans, "the mirror was never used")
        tail = len(self.data) - servers.TAIL_BYTES
        self.assertEqual([s for s in spans if s[0] < tail], [])

    def test_kill_9_and_resume(self):
        link = self.pdown_link(self.nginx.url("rate/file.bin"))
        for delay in (0.6, 1.0):
            proc = subprocess.Popen([PDOWN, "--quiet", "--connections", "4", link, self.target],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            proc.send_signal(signal.SIGKILL)
            proc.wait()
        self.assertTrue(os.path.exists(self.target + ".P2P"))
        code, _ = self.pdown(link, timeout=120)
        self.assertEqual(code, 0)
        self.assert_right_file()


class FullDisk(PdownCase):
    def setUp(self):
        super().setUp()
        self.mount = tempfile.mkdtemp(prefix="p2sp-tmpfs-")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", self.mount],
                          stderr=subprocess.DEVNULL).returncode != 0:
            os.rmdir(self.mount)
            self.skipTest("cannot mount a small file system here")

    def tearDown(self):
        subprocess.run(["umount", self.mount])
        os.rmdir(self.mount)
        super().tearDown()

    def test_full_disk_fails_with_5_and_resumes_once_there_is_space(self):
        target = os.path.join(self.mount, "game.bin")
        link = self.pdown_link(self.nginx.url("file.bin"))
        code, took = self.pdown(link, target=target)
        self.assertEqual(code, 5)
        self.assertFalse(os.path.exists(target))
        self.assertLess(took, 10)
        subprocess.run(["mount", "-o", "remount,size=64m", self.mount], check=True)
        code, _ = self.pdown(link, target=target)
        self.assertEqual(code, 0)
        self.assert_right_file(target)

    def test_an_old_copy_given_up_makes_room_for_the_new_file(self):
        # Room for one copy only: given up, the old copy goes unread and the
        # file is fetched whole; kept, the task fails and leaves it as it was.
        subprocess.run(["mount", "-o", "remount,size=%d" % (len(self.data) * 3 // 2), self.mount], check=True)
        target = os.path.join(self.mount, "game.bin")
        old = bytes(reversed(self.data))
        for discard in (True, False):
            with self.subTest(discard=discard):
                with open(target, "wb") as f:
                    f.write(old)
                extra = ["--discard-old-target"] if discard else []
                code, _ = self.pdown(self.pdown_link(self.nginx.url("file.bin")), *extra, target=target)
                if discard:
                    self.assertEqual(code, 0)
                    self.assert_right_file(target)
                else:
                    self.assertEqual(code, 5)
                    with open(target, "rb") as f:
                        self.assertTrue(f.read() == old, "the old copy was touched")
                for leftover in (target, target + ".P2P"):
                    if os.path.exists(leftover):
                        os.unlink(leftover)


if __name__ == "__main__":
    args = sys.argv[1:]
    if "--pdown" in args:
        i = args.index("--pdown")
        PDOWN = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    else:
        PDOWN = os.path.join(os.path.dirname(__file__), "..", "..", "build", "native", "bin", "pdown")
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
