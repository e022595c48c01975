"""Runs the real marvik_ac.exe under wine64 and Xvfb, in a private copy of
the prepared Wine prefix, and reads what it leaves behind: its log file,
its registry value and its processes."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("MARVIK_BUILD_DIR", os.path.join(ROOT, "build", "win64"))
EXE = os.environ.get("MARVIK_EXE", os.path.join(BUILD, "marvik_ac.exe"))
# The same program with the hold hook (MARVIK_TEST_HOLD), to stall a thread.
HOLD_EXE = os.environ.get("MARVIK_HOLD_EXE", os.path.join(BUILD, "marvik_ac_hold.exe"))
PREFIX = os.path.join(ROOT, "build", "wineprefix")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
TOOLS = {
    "acctl.exe": os.path.join(BUILD, "tools", "acctl", "acctl.exe"),
    "menu_probe.dll": os.path.join(BUILD, "tools", "acctl", "menu_probe.dll"),
    "tray_recorder.exe": os.path.join(BUILD, "tools", "tray_recorder", "tray_recorder.exe"),
    "standin_game.exe": os.path.join(BUILD, "tools", "standin_game", "standin_game.exe"),
}
# The i686 build beside this one: the 32-bit stand-in game and its fixtures
# (the test command builds it before the system tests run).
BUILD32 = os.environ.get("MARVIK_BUILD32_DIR", os.path.join(os.path.dirname(BUILD), "win32"))
WINE32 = "/usr/lib/wine/wine"
# Screenshots and tray records of the system tests, kept for a look.
ARTIFACTS = os.path.join(BUILD, "system-artifacts")
FIXTURES = os.path.join(BUILD, "fixtures")


def _link_or_copy(src, dst):
    """The prefix's system DLLs (over a gigabyte with the 32-bit half) are
    only ever read: link them. Registry files and anything small that Wine
    may rewrite in place are copied."""
    if src.endswith((".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb", ".nls", ".ttf")):
        try:
            os.link(src, dst)
            return dst
        except OSError:
            pass
    return shutil.copy2(src, dst)


def _read(path, encoding="utf-8"):
    """A file's text, empty while it does not exist."""
    try:
        with open(path, encoding=encoding, errors="replace", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


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

    def __init__(self, folder="marvik", screen="1280x800", name="box", exe=EXE):
        self.tmp = tempfile.mkdtemp(prefix="marvik-sys-")
        self.prefix = os.path.join(self.tmp, "prefix")
        shutil.copytree(PREFIX, self.prefix, symlinks=True, copy_function=_link_or_copy)
        self.folder_win = "C:\\" + folder.replace("/", "\\")
        self.folder = os.path.join(self.prefix, "drive_c", *folder.split("/"))
        os.makedirs(self.folder, exist_ok=True)
        shutil.copy(exe, os.path.join(self.folder, "marvik_ac.exe"))
        for tool, source in TOOLS.items():
            shutil.copy(source, os.path.join(self.folder, tool))
        self.name = name
        self.screen = screen
        self.xvfb = None
        self.display = None
        self.procs = []
        self.recorder = None
        self.games = []
        self.programs = []
        self._start_display()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=self.display)
        # Warm the prefix up: the first process of a fresh wineserver starts
        # its services, which must not race the client's start.
        self.wine("cmd", "/c", "exit")

    def _start_display(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen + "x24", "-nolisten", "tcp"],
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

    def _popen(self, *args, **extra_env):
        """A Windows program of the prefix, started and left running."""
        return subprocess.Popen([WINE, *args], env=dict(self.env, **extra_env), cwd=self.tmp,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _install(self, source, folder, name):
        """source copied as C:\\<folder>\\<name>: (its Linux path, its Windows path)."""
        folder_dir = os.path.join(self.prefix, "drive_c", *folder.split("/"))
        os.makedirs(folder_dir, exist_ok=True)
        shutil.copy(source, os.path.join(folder_dir, name))
        return os.path.join(folder_dir, name), "C:\\" + folder.replace("/", "\\") + "\\" + name

    def start_client(self, **extra_env):
        proc = self._popen(self.folder_win + "\\marvik_ac.exe", **extra_env)
        self.procs.append(proc)
        return proc

    def wait_client_exit(self, timeout):
        """The client's exit code, or None while it still runs after timeout seconds."""
        try:
            return self.procs[0].wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def start_second_client(self):
        return self._popen(self.folder_win + "\\marvik_ac.exe")

    # The tray: tray_recorder poses as the notification area, so it must
    # run before the client starts.
    def start_tray_recorder(self):
        out = self.path("tray.txt")
        self.recorder = self._popen(self.folder_win + "\\tray_recorder.exe", self.folder_win + "\\tray.txt")
        if not wait_for(lambda: _read(out).startswith("ready"), 30):
            raise RuntimeError("tray_recorder did not start")

    def tray_events(self):
        """Shell_NotifyIcon calls so far: dicts with t (ms), op, id, flags (the
        call's uFlags, an int), tip, info, title and infoflags."""
        events = []
        for line in _read(self.path("tray.txt")).splitlines()[1:]:
            fields = line.split("\t")
            if len(fields) < 8:
                continue
            event = {"t": int(fields[0]), "op": fields[1]}
            for field in fields[2:]:
                key, _, value = field.partition("=")
                event[key] = value
            event["flags"] = int(event["flags"], 16)
            events.append(event)
        return events

    def wait_tray(self, predicate, timeout=20):
        """The first tray event for which predicate holds, waiting for it."""
        def find():
            return next((e for e in self.tray_events() if predicate(e)), None)
        return wait_for(find, timeout)

    # What a player does with the icon, through acctl.
    def acctl(self, *args, timeout=30):
        r = self.wine(self.folder_win + "\\acctl.exe", *args, timeout=timeout)
        return r.returncode, r.stdout.replace("\r\n", "\n")

    def menu_items(self):
        rc, out = self.acctl("menu")
        if rc != 0:
            raise AssertionError("acctl menu failed: " + out)
        return [line.split(": ", 1)[1] for line in out.splitlines() if line.startswith("item ")]

    # The stand-in game: standin_game.exe copied as C:\<folder>\<name>.
    def start_game(self, name="iw3mp.exe", folder="game", args=(), width=64, realistic=False):
        """The stand-in game of that width as C:\\<folder>\\<name>; realistic
        brings the DLLs of its realistic mode beside it and starts that mode."""
        source = os.path.join(BUILD if width == 64 else BUILD32, "tools", "standin_game")
        path, path_win = self._install(os.path.join(source, "standin_game.exe"), folder, name)
        if realistic:
            for dll in os.listdir(source):
                if dll.lower().endswith(".dll"):
                    shutil.copy(os.path.join(source, dll), os.path.dirname(path))
            args = ("--realistic", *args)
        proc = self._popen(path_win, *args)
        self.games.append((proc, path))
        if realistic and not wait_for(lambda: os.path.exists(path + ".ready"), 60):
            raise RuntimeError("the realistic game did not start")
        return proc

    def user_folder(self, *parts):
        """A folder of the prefix's user (C:\\users\\<name>\\...), relative to drive C."""
        users = os.path.join(self.prefix, "drive_c", "users")
        name = next(u for u in sorted(os.listdir(users)) if u.lower() not in ("public", "default"))
        return "/".join(("users", name) + parts)

    def game_command(self, line, index=0):
        """A line for the stand-in game's command file (load <dll>, rwx, rwx-pe, patch)."""
        path = self.games[index][1] + ".cmd"
        with open(path, "w") as f:
            f.write(line + "\n")
        return wait_for(lambda: not os.path.exists(path), 10)

    def start_program(self, source, name, folder="tools"):
        """Any program copied as C:\\<folder>\\<name> and started; it runs until the box closes."""
        proc = self._popen(self._install(source, folder, name)[1])
        self.programs.append(proc)
        return proc

    def stop_game(self, timeout=10):
        for proc, path in self.games:
            with open(path + ".exit", "w") as f:
                f.write("0\n")
            proc.wait(timeout=timeout)
        self.games = []

    def screenshot(self, label):
        """The whole screen now: ((width, height), rgb bytes); also kept as a PNG."""
        ppm = subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "ppm:-"],
                             capture_output=True, timeout=30).stdout
        # P6 <width> <height> 255, one whitespace byte, then the pixels.
        parts = ppm.split(maxsplit=3)
        width, height = int(parts[1]), int(parts[2])
        pixels = ppm[len(ppm) - width * height * 3:]
        os.makedirs(ARTIFACTS, exist_ok=True)
        png = os.path.join(ARTIFACTS, "%s-%s.png" % (self.name, label))
        subprocess.run(["convert", "ppm:-", png], input=ppm, capture_output=True, timeout=30)
        return (width, height), pixels

    @staticmethod
    def pixel(shot, x, y):
        (width, _), pixels = shot
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])

    def log_text(self):
        return _read(self.path("marvik_ac.log"), encoding="latin-1")

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
        if os.path.exists(self.path("tray.txt")):
            os.makedirs(ARTIFACTS, exist_ok=True)
            shutil.copy(self.path("tray.txt"), os.path.join(ARTIFACTS, self.name + "-tray.txt"))
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)
        extra = [g for g, _ in self.games] + self.programs + ([self.recorder] if self.recorder else [])
        for p in self.procs + extra:
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
    screen = "1280x800"
    exe = EXE

    def setUp(self):
        if not os.path.exists(self.exe):
            self.fail("the client is not built: " + self.exe)
        self.box = WineBox(self.folder, self.screen, name=self.id().split(".", 1)[-1], exe=self.exe)
        self.addCleanup(self.box.close)


REFSERVER = os.environ.get("MARVIK_REFSERVER",
                           os.path.join(ROOT, "build", "native", "tools", "refserver", "marvik_refserver"))


class RefServer:
    """The reference server on 127.0.0.1 and a free port, its events read
    from its JSON Lines file."""

    def __init__(self, *options, label="server"):
        self.tmp = tempfile.mkdtemp(prefix="marvik-srv-")
        self.events_path = os.path.join(self.tmp, "events.jsonl")
        self.summary_path = os.path.join(ARTIFACTS, label + "-server.txt")
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.summary = open(self.summary_path, "w")
        self.proc = subprocess.Popen([REFSERVER, "--listen", "127.0.0.1", "--port", "0", "--json",
                                      self.events_path, "--summary", *options],
                                     stdout=subprocess.DEVNULL, stderr=self.summary)
        listening = wait_for(lambda: next((e for e in self.events() if e["event"] == "listening"), None), 20)
        if not listening:
            raise RuntimeError("the reference server did not start")
        self.port = listening["port"]

    def events(self, name=None):
        out = []
        for line in _read(self.events_path).splitlines():
            try:
                event = json.loads(line)
            except ValueError:
                continue  # a line still being written
            if name is None or event["event"] == name:
                out.append(event)
        return out

    def wait_events(self, name, count=1, timeout=30, where=lambda e: True):
        """The first count events of that name matching where, or [] after timeout."""
        def found():
            events = [e for e in self.events(name) if where(e)]
            return events[:count] if len(events) >= count else None
        return wait_for(found, timeout) or []

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.summary.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


class SessionTest(SystemTest):
    """A client with the tray recorder, a reference server and a stand-in
    game; config_text may use {port}."""

    server_options = ()
    config_text = "server_ip=127.0.0.1\nserver_port={port}\nplayer_name=Tester\nauto_start=1\n"

    def setUp(self):
        super().setUp()
        self.server = RefServer(*self.server_options, label=self.box.name)
        self.addCleanup(self.server.close)
        self.box.start_tray_recorder()
        self.box.write_config(self.config_text.format(port=self.server.port, name="Tester"))

    def log_lines(self):
        return [re.sub(r"^\[\d\d:\d\d:\d\d\] ", "", line) for line in self.box.log_text().splitlines()]

    def timed_log_lines(self):
        """(seconds, line without its time) for each log line; the seconds
        count on past midnight, so they only grow."""
        out, day = [], 0
        for line in self.box.log_text().splitlines():
            m = re.match(r"^\[(\d\d):(\d\d):(\d\d)\] (.*)$", line)
            if not m:
                continue
            t = int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)) + day
            if out and t < out[-1][0] - 43200:
                day += 86400
                t += 86400
            out.append((t, m.group(4)))
        return out
