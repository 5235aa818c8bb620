"""Runs the Windows builds under Wine on a virtual display, for the tests and the demo.

One Wine prefix lives in build/wine/prefix and serves both 32- and 64-bit programs.
Only that prefix's processes are ever ended (wineserver -k with its WINEPREFIX).
"""
import glob
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

# Sharing between players stays on loopback: the engine serves and announces
# on this address only, so nothing reaches the machine's network.
os.environ.setdefault("P2SP_SHARE_ADDRESS", "127.0.0.1")

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("GD_BUILD_DIR", os.path.join(ROOT, "build"))
PREFIX = os.environ.get("GD_WINEPREFIX", os.path.join(BUILD, "wine", "prefix"))

FONT_REPLACEMENTS = {
    "微软雅黑": "WenQuanYi Micro Hei",
    "宋体": "WenQuanYi Zen Hei",
    "新宋体": "WenQuanYi Zen Hei",
    "黑体": "WenQuanYi Micro Hei",
    "Microsoft YaHei": "WenQuanYi Micro Hei",
    "SimSun": "WenQuanYi Zen Hei",
}


def bin_dir(arch="win32"):
    return os.path.join(BUILD, arch, "bin")


def exe(name, arch="win32"):
    return os.path.join(bin_dir(arch), name)


def winpath(path):
    """The Windows name of a Linux path (Wine maps / to drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Display:
    """An Xvfb server of our own, unless the caller asked for a real display."""

    def __init__(self):
        self.proc = None
        self.name = None

    def start(self, use_existing=False):
        if use_existing and os.environ.get("DISPLAY"):
            self.name = os.environ["DISPLAY"]
            return self.name
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.name = ":" + number.decode().strip()
        return self.name

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
            self.proc = None

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-display", self.name, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return os.path.exists(path)


class Wine:
    def __init__(self, display_name, prefix=PREFIX):
        self.prefix = prefix
        self.display = display_name

    def env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            # No Mono or Gecko: keeps the first start quiet and offline. No menu
            # builder: shortcuts must not turn into desktop entries of the host.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "DISPLAY": self.display,
        })
        return env

    def ensure_prefix(self):
        stamp = os.path.join(self.prefix, ".gd-ready")
        if os.path.exists(stamp):
            self.own_desktop()
            self.keep_downloads_off_z()
            self.record_web_pages()
            self.wait_for_drives()
            return
        os.makedirs(self.prefix, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=300)
        self.import_fonts()
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120)
        self.own_desktop()
        self.keep_downloads_off_z()
        self.record_web_pages()
        self.wait_for_drives()
        open(stamp, "w").close()

    def wait_for_drives(self, timeout=120):
        """A prefix that has just been made, or whose wineserver has just
        started again, may answer volume queries before its drives are
        registered: the first program then finds no file system on C:. Waits
        until the volume of C: answers with a serial number."""
        end = time.time() + timeout
        out = ""
        while time.time() < end:
            proc = subprocess.run(["wine", "cmd", "/c", "vol", "c:"], env=self.env(), stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, timeout=120)
            out = proc.stdout.decode("utf-8", "replace")
            if proc.returncode == 0 and re.search(r"[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}", out):
                return
            time.sleep(1)
        raise RuntimeError("the prefix's drive C: never answered a volume query: %r" % out[-300:])

    def own_desktop(self):
        """Wine links the user's Desktop to the host's home folder; the program
        places its shortcut there, so give the prefix a Desktop of its own."""
        for link in glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Desktop")):
            if os.path.islink(link):
                os.unlink(link)
                os.makedirs(link, exist_ok=True)

    def desktop_dir(self):
        """The Linux path of the user's Desktop folder in this prefix."""
        for candidate in sorted(glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Desktop"))):
            if "/Public/" not in candidate:
                return candidate
        raise RuntimeError("no Desktop folder in the prefix")

    def keep_downloads_off_z(self):
        """Z: (the host's /) shares its disk with C:, and the program proposes
        the drive with the most free room. Measured a moment apart under other
        writes, either letter can win, and a game would land in the host's
        /download. The prefix therefore names Z: as the security suite's folder,
        which the program never proposes, so that downloads go to C:."""
        stamp = os.path.join(self.prefix, ".gd-suite-z")
        if os.path.exists(stamp):
            return
        lines = []
        for view in ("", "Wow6432Node\\"):  # 64-bit and 32-bit programs
            lines += ["[HKEY_LOCAL_MACHINE\\SOFTWARE\\%sMicrosoft\\Windows\\CurrentVersion\\App Paths\\"
                      "Tarnsafe.exe]" % view, '"path"="Z:"', ""]
        self.import_registry(lines)
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120)
        open(stamp, "w").close()

    def opened_pages_file(self):
        return os.path.join(self.prefix, "opened-pages.txt")

    def opened_pages(self):
        """The web pages that programs of this prefix asked the shell to open."""
        if not os.path.exists(self.opened_pages_file()):
            return []
        with open(self.opened_pages_file(), encoding="utf-8") as f:
            return [line.rstrip("\n") for line in f]

    def record_web_pages(self):
        """Web pages opened through the shell go to winebrowser, which would
        start the host's browser; here a script only writes them down."""
        script = os.path.join(self.prefix, "record-page.sh")
        if not os.path.exists(script):
            with open(script, "w") as f:
                f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % self.opened_pages_file())
            os.chmod(script, 0o755)
            self.import_registry(["[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]", '"Browsers"="%s"' % script])
            subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120)

    def import_fonts(self):
        lines = ["[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
        lines += ['"%s"="%s"' % (k, v) for k, v in FONT_REPLACEMENTS.items()]
        self.import_registry(lines)

    def import_registry(self, lines):
        text = "\r\n".join(["REGEDIT4", ""] + lines) + "\r\n"
        with tempfile.NamedTemporaryFile("wb", suffix=".reg", delete=False) as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
            reg = f.name
        try:
            subprocess.run(["wine", "regedit", winpath(reg)], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        finally:
            os.unlink(reg)

    def run(self, program, *args, timeout=60, cwd=None):
        """Runs a Windows program to its end; returns (exit code, stdout text)."""
        proc = subprocess.run(["wine", program] + [str(a) for a in args], env=self.env(), cwd=cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
        return proc.returncode, proc.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def start(self, program, *args, cwd=None, capture=False):
        """Starts a Windows program; with capture its stdout is a pipe the caller closes."""
        return subprocess.Popen(["wine", program] + [str(a) for a in args], env=self.env(), cwd=cwd,
                                stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def kill_all(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=60)

    def temp_dir(self):
        """The Linux path of the Windows temporary directory of this prefix."""
        for candidate in sorted(glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData",
                                                       "Local", "Temp"))):
            if "/Public/" not in candidate:
                return candidate
        for candidate in sorted(glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Temp"))):
            if "/Public/" not in candidate:
                return candidate
        raise RuntimeError("no temporary directory in the prefix")

    def trust_test_ca(self, der_path):
        """Adds the HTTPS tests' CA to this prefix's Root store (never the host's),
        once per CA."""
        import hashlib
        with open(der_path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        stamp = os.path.join(self.prefix, ".gd-test-ca")
        if os.path.exists(stamp) and open(stamp).read() == digest:
            return
        code, out = self.run(exe("trust_ca.exe"), winpath(der_path))
        if code != 0:
            raise RuntimeError("trust_ca.exe failed (%d): %s" % (code, out))
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120)
        with open(stamp, "w") as f:
            f.write(digest)

    def driver(self, *args, timeout=30):
        return self.run(exe("wdriver.exe"), *args, timeout=timeout)


def branded_copy(source, folder, game_key=None, server=None, wine=None, name=None):
    """Copies a built program into `folder` and stamps it with brand.exe."""
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, name or os.path.basename(source))
    shutil.copyfile(source, target)
    args = [winpath(target)]
    if game_key is not None:
        args += ["--game-key", game_key]
    if server is not None:
        args += ["--server", server]
    code, out = wine.run(exe("brand.exe"), *args)
    if code != 0:
        raise RuntimeError("brand.exe failed (%d): %s" % (code, out))
    return target


TLS_DIR = os.path.join(BUILD, "wine", "tls")


def _openssl(*args):
    subprocess.run(["openssl"] + list(args), cwd=TLS_DIR, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)


def test_tls_files():
    """Certificates for the HTTPS tests, made once with the openssl tool: a test
    CA ("ca.der", to be trusted in the prefix), a server certificate from it for
    localhost and one for another name, and a self-signed localhost certificate
    that nobody trusts. Returns name -> (certificate file, key file)."""
    names = {n: (os.path.join(TLS_DIR, n + ".pem"), os.path.join(TLS_DIR, "server.key"))
             for n in ("localhost", "wrong-name")}
    names["untrusted"] = (os.path.join(TLS_DIR, "untrusted.pem"), os.path.join(TLS_DIR, "untrusted.key"))
    names["ca"] = (os.path.join(TLS_DIR, "ca.der"), None)
    if os.path.exists(os.path.join(TLS_DIR, ".complete")):
        return names
    os.makedirs(TLS_DIR, exist_ok=True)
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650",
             "-subj", "/CN=Downloader Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    _openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
             "-subj", "/CN=server")
    for name, host in (("localhost", "localhost"), ("wrong-name", "wrong-name.invalid")):
        ext = os.path.join(TLS_DIR, name + ".ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n" % host)
        _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-out", name + ".pem", "-days", "825", "-extfile", ext)
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "untrusted.key", "-out", "untrusted.pem",
             "-days", "825", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost")
    open(os.path.join(TLS_DIR, ".complete"), "w").close()
    return names


def https_server(wine, which="localhost", root=None):
    """A started TestServer over HTTPS with the test CA trusted in the prefix."""
    from testserver import TestServer
    files = test_tls_files()
    wine.trust_test_ca(files["ca"][0])
    return TestServer(root=root, tls=files[which]).start()


def wait_until(predicate, timeout=10.0, interval=0.1):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


_session = {}


def session():
    """The display and Wine prefix shared by every test of one run."""
    if "wine" not in _session:
        display = Display()
        display.start()
        wine = Wine(display.name)
        wine.ensure_prefix()
        _session["display"] = display
        _session["wine"] = wine
    return _session["display"], _session["wine"]


def end_session():
    if "wine" in _session:
        _session["wine"].kill_all()
        _session["display"].stop()
        _session.clear()


class WineServerTestCase(unittest.TestCase):
    """A test class with the shared Wine session, a test server of its own, a
    scratch folder, and the server's request record cleared before each test."""

    @classmethod
    def setUpClass(cls):
        from testserver import TestServer
        cls.display, cls.wine = session()
        cls.server = cls.make_server() if hasattr(cls, "make_server") else TestServer().start()
        cls.folder = tempfile.mkdtemp(prefix="gd-%s-" % cls.__name__.lower())
        cls.server_base = cls.server.url("/tool/muldown/")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.server.clear_requests()
