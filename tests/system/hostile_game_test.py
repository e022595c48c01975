"""A game that works against the client (frozen from outside, every thread suspended, its loader list looped back
on itself): the heartbeat keeps its 5 s period, the looped list is reported, and "Stop AntiCheat" still ends the
client within 2 s (which includes starting the menu tool under Wine)."""

import os
import signal
import time

from harness import SessionTest, heartbeat_gaps_ok

WATCH_S = 32            # past the 10 s after which a hung check is reported
PERIOD_S = (4.9, 5.35)  # 5.0-5.3 s, widened by the server's receive times on a loaded machine


class HostileGame(SessionTest):
    def game_pids(self):
        """The Linux processes of this box's game."""
        pids = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f, open("/proc/%s/environ" % pid, "rb") as e:
                    if b"iw3mp.exe" in f.read() and ("WINEPREFIX=" + self.box.prefix).encode() in e.read().split(b"\0"):
                        pids.append(int(pid))
            except OSError:
                continue
        return pids

    def run_case(self, command=None, freeze=False):
        self.start_session(width=32)
        if command:
            self.box.game_command(command)
        if freeze:  # as a debugger or SIGSTOP stops it
            frozen = self.game_pids()
            self.assertTrue(frozen)
            self.addCleanup(lambda: [os.kill(p, signal.SIGCONT) for p in frozen])
            for pid in frozen:
                os.kill(pid, signal.SIGSTOP)
        seen = len(self.server.events("heartbeat"))
        time.sleep(WATCH_S)
        beats = self.server.events("heartbeat")[seen:]
        periods = [(b["t_ms"] - a["t_ms"]) / 1000.0 for a, b in zip(beats, beats[1:])]
        self.stop_client(within=2.0)
        self.assertTrue(heartbeat_gaps_ok(periods, *PERIOD_S, at_least=WATCH_S // 5 - 1), periods)
        return [r["description"] for r in self.server.events("memory_report")]

    def test_frozen_game(self):
        self.run_case(freeze=True)

    def test_every_thread_suspended_and_a_looped_loader_list(self):
        reports = self.run_case(command="loop-loader\nsuspend-all")
        looped = [r for r in reports if r.startswith("Loader list tampered: loop at 0x")]
        self.assertTrue(looped and looped[0].endswith("(32-bit list)"), reports)
