"""Runs the real marvik_ac.exe under wine64 and Xvfb, in a private copy of
the prepared Wine prefix, and reads what it leaves behind: its log file,
its registry value and its processes."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("MARVIK_BUILD_DIR", os.path.join(ROOT, "build", "win64"))
EXE = os.environ.get("MARVIK_EXE", os.path.join(BUILD, "marvik_ac.exe"))
PREFIX = os.path.join(ROOT, "build", "wineprefix")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"


def wait_for(predicate, timeout, step=0.2):
    """Polls predicate until it gives a true value or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


class WineBox:
    """One private prefix and X display; the client lives in C:\\<folder>."""

    def __init__(self, folder="marvik"):
        self.tmp = tempfile.mkdtemp(prefix="marvik-sys-")
        self.prefix = os.path.join(self.tmp, "prefix")
        shutil.copytree(PREFIX, self.prefix, symlinks=True)
        self.folder_win = "C:\\" + folder.replace("/", "\\")
        self.folder = os.path.join(self.prefix, "drive_c", *folder.split("/"))
        os.makedirs(self.folder, exist_ok=True)
        shutil.copy(EXE, os.path.join(self.folder, "marvik_ac.exe"))
        self.xvfb = None
        self.display = None
        self.procs = []
        self._start_display()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=self.display)
        # Warm the prefix up: the first process of a fresh wineserver starts
        # its services, which must not race the client's start.
        self.wine("cmd", "/c", "exit")

    def _start_display(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()

    def path(self, name):
        return os.path.join(self.folder, name)

    def write_config(self, text):
        with open(self.path("marvik_ac.cfg"), "w", newline="") as f:
            f.write(text)

    def wine(self, *args, timeout=60):
        return subprocess.run([WINE, *args], env=self.env, capture_output=True, text=True,
                              errors="replace", timeout=timeout)

    def start_client(self):
        exe = self.folder_win + "\\marvik_ac.exe"
        proc = subprocess.Popen([WINE, exe], env=self.env, cwd=self.tmp,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(proc)
        return proc

    def log_text(self):
        try:
            with open(self.path("marvik_ac.log"), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def wait_log(self, needle, timeout=20):
        return wait_for(lambda: needle in self.log_text(), timeout)

    def run_value(self, name="Marvik_AntiCheat"):
        """(type, data) of a Run value, or None when it is absent."""
        out = self.wine("reg", "query", RUN_KEY, "/v", name).stdout
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[1], parts[2] if len(parts) > 2 else ""
        return None

    def set_run_value(self, data, name="Marvik_AntiCheat"):
        self.wine("reg", "add", RUN_KEY, "/v", name, "/t", "REG_SZ", "/d", data, "/f")

    def client_alive(self):
        return any(p.poll() is None for p in self.procs)

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)
        for p in self.procs:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        subprocess.run([WINESERVER, "-w"], env=self.env, capture_output=True, timeout=60)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)
        shutil.rmtree(self.tmp, ignore_errors=True)


class SystemTest(unittest.TestCase):
    """Base for system tests: a fresh WineBox per test, closed afterwards."""

    folder = "marvik"

    def setUp(self):
        if not os.path.exists(EXE):
            self.fail("marvik_ac.exe is not built: " + EXE)
        self.box = WineBox(self.folder)
        self.addCleanup(self.box.close)
