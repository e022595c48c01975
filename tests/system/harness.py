"""Runs the real marvik_ac.exe under Wine and Xvfb, in a private copy of the prepared Wine prefix, and reads what
it leaves behind: its log, its registry value, its tray calls and the reference server's events."""

import hashlib
import json
import os
import pathlib
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("MARVIK_BUILD_DIR", os.path.join(ROOT, "build", "win64"))
EXE = os.environ.get("MARVIK_EXE", os.path.join(BUILD, "marvik_ac.exe"))
HOLD_EXE = os.environ.get("MARVIK_HOLD_EXE", os.path.join(BUILD, "marvik_ac_hold.exe"))
BUILD32 = os.path.join(os.path.dirname(BUILD), "win32")  # the i686 build
EXE32 = os.path.join(BUILD32, "marvik_ac.exe")
REFSERVER = os.path.join(ROOT, "build", "native", "tools", "refserver", "marvik_refserver")
# (prefix made by tools/setup.sh, loader) by the width of Windows.
WINDOWS = {64: (os.path.join(ROOT, "build", "wineprefix"), "/usr/lib/wine/wine64"),
           32: (os.path.join(ROOT, "build", "wineprefix32"), "/usr/lib/wine/wine")}
WINESERVER = "/usr/lib/wine/wineserver"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
TOOLS = ("acctl.exe", "menu_probe.dll")  # beside the client
FIXTURES = os.path.join(BUILD, "fixtures")
STOPPED = "[AC] Marvik AntiCheat stopped."
# A Shell_NotifyIcon call as Wine passes it to the tray: hWnd, uID, uFlags, uCallbackMessage, szTip, dwState,
# dwStateMask, szInfo, uVersion, szInfoTitle, dwInfoFlags; with NIF_ICON, the icon after it.
NOTIFY_DATA = struct.Struct("<iIII256sII512sI128sI")
NIM = ("ADD", "MODIFY", "DELETE", "SETFOCUS", "SETVERSION")
NIF_ICON, NIF_TIP, NIF_INFO, NIF_SHOWTIP = 0x2, 0x4, 0x10, 0x80
NIIF_INFO, NIIF_WARNING, NIIF_ERROR = 1, 2, 3  # a balloon's level


def _link_or_copy(src, dst):
    """The prefix's system files are only ever read: linked; what Wine may rewrite is copied."""
    try:
        if src.endswith((".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb", ".nls", ".ttf")):
            return os.link(src, dst) or dst
    except OSError:
        pass
    return shutil.copy2(src, dst)


def read_text(path, encoding="utf-8"):
    try:
        with open(path, encoding=encoding, errors="replace", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_for(predicate, timeout, step=0.2):
    """Polls predicate until it gives a true value or timeout seconds pass; its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def heartbeat_gaps_ok(periods, low, high, at_least):
    """Every gap between heartbeats one period, but for at most one of two: a heartbeat is one UDP datagram, and on
    a loaded machine one can be lost on the way (CI once saw 10.005 s between two among 5.00 s ones)."""
    lost = [p for p in periods if 2 * low <= p <= 2 * high]
    return len(periods) + len(lost) >= at_least and len(lost) <= 1 and all(low <= p <= high or p in lost for p in periods)


def game_files(box, guid="0123456789abcdef0123456789abcdef", config=b"seta name \"Tester\"\n" * 50,
               profile="Tester", folder="game"):
    """guid.dat and a profile's config_mp.cfg in the game folder C:\\<folder>; that folder's Linux path."""
    players = pathlib.Path(box.prefix, "drive_c", *folder.split("\\"), "players")
    (players / "profiles" / profile).mkdir(parents=True, exist_ok=True)
    (players / "guid.dat").write_bytes(guid.encode() + b"\r\n")
    (players / "profiles" / profile / "config_mp.cfg").write_bytes(config)
    return str(players.parent)


def trust_test_roots(prefix):
    """The builds' throwaway signing roots (tools/fixtures/make_signed_dll.py) made trusted in this prefix only,
    as the Root store keeps a certificate in the registry: its SHA-1 names the key, Blob holds property 32."""
    keys = []
    for build in (BUILD, BUILD32):
        path = os.path.join(build, "fixtures", "marvik_test_root.cer")
        if os.path.exists(path):
            der = pathlib.Path(path).read_bytes()
            blob = (32).to_bytes(4, "little") + (1).to_bytes(4, "little") + len(der).to_bytes(4, "little") + der
            keys.append("\n[Software\\\\Microsoft\\\\SystemCertificates\\\\Root\\\\Certificates\\\\%s] %d\n"
                        "\"Blob\"=hex:%s\n" % (hashlib.sha1(der).hexdigest().upper(), int(time.time()),
                                               ",".join("%02x" % b for b in blob)))
    with open(os.path.join(prefix, "system.reg"), "a", newline="\n") as f:
        f.write("".join(keys))


class WineBox:
    """One private prefix and X display; the client lives in C:\\<folder>. The name marks its temporary folder."""

    def __init__(self, folder="marvik", screen="1280x800", name="box", exe=EXE, env=None, windows_bits=64):
        self.tmp = tempfile.mkdtemp(prefix="marvik-%s-" % name)
        self.prefix = os.path.join(self.tmp, "prefix")
        source, self.loader = WINDOWS[windows_bits]
        shutil.copytree(source, self.prefix, symlinks=True, copy_function=_link_or_copy)
        # Wine links the user's Desktop, Documents... to the Unix home, which every box would then share.
        users = os.path.join(self.prefix, "drive_c", "users")
        for entry in (e for user in os.scandir(users) for e in os.scandir(user.path) if e.is_symlink()):
            os.unlink(entry.path)
            os.mkdir(entry.path)
        trust_test_roots(self.prefix)
        self.folder_win = "C:\\" + folder.replace("/", "\\")
        self.folder = os.path.dirname(self._install(exe, folder, "marvik_ac.exe")[0])
        self.tools = os.path.join(BUILD if windows_bits == 64 else BUILD32, "tools")  # of the system's width
        for tool in TOOLS:
            shutil.copy(os.path.join(self.tools, "acctl", tool), self.path(tool))
        self.procs, self.games, self.others = [], [], []  # clients, (game, path), the rest
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen + "x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=self.display, **(env or {}))
        self.wine("cmd", "/c", "exit")  # a fresh wineserver's services must not race the client's start

    def path(self, name):
        return os.path.join(self.folder, name)

    def write_config(self, text):
        pathlib.Path(self.path("marvik_ac.cfg")).write_bytes(text.encode())

    def wine(self, *args, timeout=60):
        return subprocess.run([self.loader, *args], env=self.env, capture_output=True, text=True,
                              errors="replace", timeout=timeout)

    def popen(self, *args, stdin=None, **extra_env):
        return subprocess.Popen([self.loader, *args], env=dict(self.env, **extra_env), cwd=self.tmp, stdin=stdin,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)

    def _install(self, source, folder, name):
        """source copied as C:\\<folder>\\<name>: (its Linux path, its Windows path)."""
        folder_dir = os.path.join(self.prefix, "drive_c", *folder.split("/"))
        os.makedirs(folder_dir, exist_ok=True)
        shutil.copy(source, os.path.join(folder_dir, name))
        return os.path.join(folder_dir, name), "C:\\" + folder.replace("/", "\\") + "\\" + name

    def start_client(self, **extra_env):
        self.procs.append(self.popen(self.folder_win + "\\marvik_ac.exe", **extra_env))
        return self.procs[-1]

    def start_program(self, source, name, *args):
        """Any program copied as C:\\tools\\<name> and started; it runs until the box closes."""
        self.others.append(self.popen(self._install(source, "tools", name)[1], *args))

    def start_tray_recorder(self):
        """tray_recorder poses as the notification area, so it starts before the client."""
        self.start_program(os.path.join(self.tools, "tray_recorder", "tray_recorder.exe"), "tray_recorder.exe",
                           self.folder_win + "\\tray.txt")
        if not wait_for(lambda: read_text(self.path("tray.txt")).startswith("ready"), 30):
            raise RuntimeError("tray_recorder did not start")

    def tray_events(self):
        """Shell_NotifyIcon calls so far: dicts of t (ms), op, flags, the texts and level the flags name (else empty)
        and icon (its bytes in hex)."""
        text, events = read_text(self.path("tray.txt")), []
        for t, op, data in (line.split("\t") for line in text[:text.rfind("\n") + 1].splitlines()[1:]):
            _, _, flags, _, tip, _, _, info, _, _, level = NOTIFY_DATA.unpack_from(bytes.fromhex(data))
            named = lambda field, flag: field.decode("utf-16-le").split("\0")[0] if flags & flag else ""
            events.append({"t": int(t), "op": NIM[int(op)], "flags": flags, "tip": named(tip, NIF_TIP),
                           "info": named(info, NIF_INFO), "infoflags": level if flags & NIF_INFO else 0,
                           "icon": data[2 * NOTIFY_DATA.size:] if flags & NIF_ICON else ""})
        return events

    def wait_tray(self, predicate, timeout=20):
        return wait_for(lambda: next((e for e in self.tray_events() if predicate(e)), None), timeout)

    def acctl(self, *args):
        """What acctl prints; it failing fails the test."""
        r = self.wine(self.folder_win + "\\acctl.exe", *args, timeout=30)
        if r.returncode != 0:
            raise AssertionError("acctl %s failed: %s" % (" ".join(args), r.stdout))
        return r.stdout.replace("\r\n", "\n")

    def menu_items(self):
        return [line.split(": ", 1)[1] for line in self.acctl("menu").splitlines() if line.startswith("item ")]

    def start_game(self, name="iw3mp.exe", folder="game", args=(), width=64, realistic=False):
        """The stand-in game of that width as C:\\<folder>\\<name>, once ready; the cheat's renderer beside it,
        and with realistic, that mode and every DLL it loads."""
        source = os.path.join(BUILD if width == 64 else BUILD32, "tools", "standin_game")
        path, path_win = self._install(os.path.join(source, "standin_game.exe"), folder, name)
        for dll in os.listdir(source):
            if dll.lower().endswith(".dll") and (realistic or dll == "render_hook.dll"):
                shutil.copy(os.path.join(source, dll), os.path.dirname(path))
        self.games.append((self.popen(path_win, *(("--realistic",) if realistic else ()), *args), path))
        if not wait_for(lambda: os.path.exists(path + ".ready"), 60):
            raise RuntimeError("the game did not start")

    def game_command(self, line):
        """A switch the first game takes later, through its command file."""
        pathlib.Path(self.games[0][1] + ".cmd").write_text(line + "\n")

    def stop_game(self, timeout=10):
        for proc, path in self.games:
            pathlib.Path(path + ".exit").write_text("0\n")
            proc.wait(timeout=timeout)
            os.remove(path + ".ready")  # a game started there again announces itself anew
        self.games = []

    def user_folder(self, *parts):
        """A folder of the prefix's user (C:\\users\\<name>\\...), relative to drive C."""
        users = os.path.join(self.prefix, "drive_c", "users")
        name = next(u for u in sorted(os.listdir(users)) if u.lower() not in ("public", "default"))
        return "/".join(("users", name) + parts)

    def log_text(self):
        return read_text(self.path("marvik_ac.log"), encoding="latin-1")

    def wait_log(self, needle, timeout=20):
        return wait_for(lambda: needle in self.log_text(), timeout)

    def log_lines(self):
        """Each log line without its time."""
        return re.findall(r"^\[\d\d:\d\d:\d\d\] (.*?)\r?$", self.log_text(), re.M)

    def run_value(self):
        """The client's Run value, or None; read from a UTF-16 export, which keeps every letter."""
        out = os.path.join(self.tmp, "run.reg")
        if self.wine("reg", "export", RUN_KEY, "Z:" + out.replace("/", "\\"), "/y").returncode != 0:
            return None
        for line in read_text(out, encoding="utf-16").splitlines():
            if line.startswith('"Marvik_AntiCheat"='):
                return line.split("=", 1)[1][1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return None

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)
        for p in self.procs + [g for g, _ in self.games] + self.others:  # gone with the wineserver, or now
            p.kill()
            p.wait()
            if p.stdin:
                p.stdin.close()
        subprocess.run([WINESERVER, "-w"], env=self.env, capture_output=True, timeout=60)
        self.xvfb.terminate()
        self.xvfb.wait(timeout=10)
        shutil.rmtree(self.tmp, ignore_errors=True)


def locale_env(name):
    """The environment under which Wine takes the ANSI code page of a Unix locale (ru_RU.UTF-8: 1251) and still
    names files in UTF-8; compiled once into the build folder, as the machine may have none installed."""
    folder = os.path.join(BUILD, "locales")
    if not os.path.isdir(os.path.join(folder, name)):
        language, charset = name.split(".")
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["localedef", "-i", language, "-f", charset, os.path.join(folder, name)],
                       capture_output=True, timeout=120)
    return {"LOCPATH": folder, "LC_ALL": name}


class RefServer:
    """The reference server on 127.0.0.1 and a free port, its events read from its JSON Lines file."""

    def __init__(self, *options, label="server"):
        self.tmp = tempfile.mkdtemp(prefix="marvik-%s-" % label)
        self.events_path = os.path.join(self.tmp, "events.jsonl")
        self.proc = subprocess.Popen([REFSERVER, "--listen", "127.0.0.1", "--port", "0", "--json", self.events_path,
                                      *options], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        listening = self.wait_events("listening", timeout=20)
        if not listening:
            raise RuntimeError("the reference server did not start")
        self.port = listening[0]["port"]

    def events(self, name=None):
        text = read_text(self.events_path)
        events = [json.loads(line) for line in text[:text.rfind("\n") + 1].splitlines()]  # whole lines only
        return [e for e in events if name in (None, e["event"])]

    def wait_events(self, name, count=1, timeout=30, where=lambda e: True):
        """The first count events of that name matching where, or [] after timeout."""
        def found():
            events = [e for e in self.events(name) if where(e)]
            return events[:count] if len(events) >= count else None
        return wait_for(found, timeout) or []

    def close(self):
        self.proc.kill()
        self.proc.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)


class SessionTest(unittest.TestCase):
    """A fresh WineBox per test with the tray recorder, a reference server and the game's files in C:\\game."""

    folder, screen, exe, windows_bits, server_options = "marvik", "1280x800", EXE, 64, ()
    config_text = "server_ip=127.0.0.1\nserver_port={port}\nplayer_name=Tester\nauto_start=1\n"

    def setUp(self):
        self.box = WineBox(self.folder, self.screen, name=self.id().split(".", 1)[-1], exe=self.exe,
                           windows_bits=self.windows_bits)
        self.addCleanup(self.box.close)
        self.server = RefServer(*self.server_options)
        self.addCleanup(self.server.close)
        self.box.start_tray_recorder()
        self.box.write_config(self.config_text.format(port=self.server.port))
        game_files(self.box)

    def assert_log(self, needle, timeout=20):
        self.assertTrue(self.box.wait_log(needle, timeout), self.box.log_text())

    def stop_client(self, within=15.0):
        """"Stop AntiCheat" from the menu: the client ends with 0 within that many seconds, its last line the
        stop."""
        asked = time.monotonic()
        self.box.acctl("stop")
        self.assertEqual(self.box.procs[0].wait(within + 5), 0)
        took = time.monotonic() - asked
        self.assertLess(took, within)
        self.assertEqual(self.box.log_lines()[-1], STOPPED, self.box.log_text())

    def start_session(self, **game):
        """The game (start_game's arguments), then the client, until its first heartbeat."""
        self.box.start_game(**game)
        self.box.start_client()
        self.assertTrue(self.server.wait_events("heartbeat", timeout=60), self.box.log_text())
