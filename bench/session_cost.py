"""What the client costs a player's machine, under Wine, against the
realistic stand-in game of each width (the 32-bit one also with the 32-bit
client on 32-bit Windows, where the installer puts that client): the whole
system's CPU (client, game, wineserver and Wine's own processes of the
prefix, read from /proc) over a steady window with the client, minus the
same window with the game alone; the heartbeat period the reference server
saw; the CPU from the client's start to its first heartbeat; and the
client's peak memory. Also the cost of waiting for a game, against the idle
prefix.

It measures the client players run, the release build (build/release,
optimised and stripped, build/release32 for 32-bit Windows; MARVIK_EXE and
MARVIK_EXE32 name others): Wine reads a PE file's
sections into memory whole, so the test build's 10 MB of debug information
would count as 9 MB of resident memory no player has.

    bench/session_cost.sh            (builds what it needs, then runs this)
    MARVIK_COST_WINDOW=60 MARVIK_COST_WIDTHS=32,64 python3 bench/session_cost.py
"""

import os
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
RELEASE = {64: os.environ.get("MARVIK_EXE", os.path.join(ROOT, "build", "release", "marvik_ac.exe")),
           32: os.environ.get("MARVIK_EXE32", os.path.join(ROOT, "build", "release32", "marvik_ac.exe"))}
for path in RELEASE.values():
    if not os.path.exists(path):
        sys.exit("no %s: cmake --preset release && cmake --build --preset release (and release32)" % path)
sys.path.insert(0, os.path.join(ROOT, "tests", "system"))
from harness import RefServer, WineBox, wait_for  # noqa: E402

WINDOW = float(os.environ.get("MARVIK_COST_WINDOW", "60"))
WIDTHS = [int(w) for w in os.environ.get("MARVIK_COST_WIDTHS", "32,64").split(",")]
TICK = os.sysconf("SC_CLK_TCK")
CONFIG = "server_ip=127.0.0.1\nserver_port={port}\nplayer_name=Bench\nauto_start=1\n"


def box_processes(box):
    """Pids of every process of the box's prefix (their WINEPREFIX), the
    wineserver included."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + box.prefix).encode() in env:
            pids.append(int(entry))
    return pids


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / TICK


def window_cost(box, seconds):
    """Fraction of one core the box's processes used over the window. A
    process that ends inside the window is counted up to its last reading."""
    start = {}
    for pid in box_processes(box):
        start[pid] = cpu_seconds([pid])
    began = time.monotonic()
    time.sleep(seconds)
    used = 0.0
    pids = box_processes(box)
    for pid in set(pids) | set(start):
        now = cpu_seconds([pid]) if pid in pids else start.get(pid, 0.0)
        used += now - start.get(pid, 0.0)
    return used / (time.monotonic() - began)


def client_pid(box):
    for pid in box_processes(box):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if b"marvik_ac.exe" in f.read():
                    return pid
        except OSError:
            pass
    return None


def peak_memory_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def measure(width, windows_bits=64):
    label = "cost-%d-on-%d" % (width, windows_bits)
    box = WineBox("marvik", name=label, exe=RELEASE[windows_bits], windows_bits=windows_bits)
    server = RefServer(label=label)
    try:
        box.write_config(CONFIG.format(port=server.port))
        box.start_game(folder="Games/CoD4", width=width, realistic=True)
        # Past the game's own late load and unload.
        time.sleep(25)
        alone = window_cost(box, WINDOW)

        started = time.monotonic()
        before = cpu_seconds(box_processes(box))
        box.start_client()
        if not server.wait_events("heartbeat", timeout=90):
            raise RuntimeError("no heartbeat: " + box.log_text())
        first = cpu_seconds(box_processes(box)) - before - alone * (time.monotonic() - started)
        # Past the first module and memory scans.
        time.sleep(15)
        before_window = len(server.events("heartbeat"))
        with_client = window_cost(box, WINDOW)
        # The heartbeats of the window, and the one before it.
        beats = [e["t_ms"] for e in server.events("heartbeat")][max(0, before_window - 1):]
        periods = [(b - a) / 1000.0 for a, b in zip(beats, beats[1:])]
        pid = client_pid(box)
        modules = server.events("module_list")[-1]["total_entries"]
        return {
            "width": width,
            "windows_bits": windows_bits,
            "modules": modules,
            "alone": alone,
            "added": with_client - alone,
            "first": first,
            "period_mean": sum(periods) / len(periods) if periods else 0.0,
            "period_min": min(periods) if periods else 0.0,
            "period_max": max(periods) if periods else 0.0,
            "beats": len(periods),
            "peak_kib": peak_memory_kib(pid) if pid else 0,
        }
    finally:
        server.close()
        box.close()


def measure_waiting():
    box = WineBox("marvik", name="cost-waiting")
    try:
        box.write_config(CONFIG.format(port=9))
        time.sleep(5)
        idle = window_cost(box, WINDOW)
        box.start_client()
        box.wait_log("[WAIT] Waiting for iw3mp.exe...", timeout=30)
        time.sleep(5)
        waiting = window_cost(box, WINDOW)
        return idle, waiting - idle
    finally:
        box.close()


def main():
    print("clients: %s (64-bit), %s (32-bit)" % (RELEASE[64], RELEASE[32]))
    print("window %.0f s; CPU as %% of one core, whole prefix (client, game, wineserver, Wine's services)" % WINDOW)
    for width, windows_bits in [(w, 64) for w in WIDTHS] + ([(32, 32)] if 32 in WIDTHS else []):
        r = measure(width, windows_bits)
        print("%d-bit client, %d-bit game on %d-bit Windows, %d modules: game alone %.2f %%, client adds %.2f %% "
              "(target <= 1 %%); heartbeat every %.2f s (%.2f-%.2f, %d in the window, target 5.0-5.3); start to first "
              "heartbeat %.2f CPU s; client peak memory %.1f MiB" % (
                  r["windows_bits"], r["width"], r["windows_bits"], r["modules"], 100 * r["alone"], 100 * r["added"],
                  r["period_mean"], r["period_min"], r["period_max"], r["beats"], r["first"], r["peak_kib"] / 1024.0))
        sys.stdout.flush()
    idle, added = measure_waiting()
    print("waiting for the game: idle prefix %.2f %%, client adds %.2f %% (target <= 0.17 %%)" %
          (100 * idle, 100 * added))


if __name__ == "__main__":
    main()
