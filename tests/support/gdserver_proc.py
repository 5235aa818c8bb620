"""gdserver started for the tests, the demo and the benchmark: on loopback (a
free port unless one is given), its log in a file, ready once it says where
it listens."""
import re
import signal
import subprocess
import time

LISTENING = re.compile(r"listening on http://127\.0\.0\.1:(\d+)/")


class GdserverFailed(RuntimeError):
    """gdserver ended, or did not listen in time; the message holds its log."""


class GdserverProc:
    def __init__(self, binary, db, log_path, *extra, journal=None, port=0, append_log=False, preexec_fn=None,
                 start_timeout=20):
        args = [binary, "--listen", "127.0.0.1:%d" % port, "--db", db]
        if journal:
            args += ["--journal", journal]
        args += [str(a) for a in extra]
        self.db = db
        self.log_path = log_path
        self.log = open(log_path, "ab" if append_log else "wb")
        self.log_start = self.log.tell()  # an appended log holds earlier runs
        self.proc = subprocess.Popen(args, stderr=self.log, preexec_fn=preexec_fn)
        self.port = None
        deadline = time.time() + start_timeout
        while self.port is None and time.time() < deadline:
            text = self.text()
            found = LISTENING.search(text)
            if found:
                self.port = int(found.group(1))
            elif self.proc.poll() is not None:
                self.log.close()
                raise GdserverFailed("gdserver ended: " + text)
            else:
                time.sleep(0.05)
        if self.port is None:
            self.stop(signal.SIGKILL)
            raise GdserverFailed("gdserver did not start: " + self.text())

    def text(self):
        """This run's log."""
        with open(self.log_path, "rb") as f:
            f.seek(self.log_start)
            return f.read().decode("utf-8", "replace")

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def running(self):
        return self.proc.poll() is None

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Sends `sig` unless it has ended and returns its exit status; one
        that does not end within `timeout` seconds is killed."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            code = self.proc.wait()
        self.log.close()
        return code
