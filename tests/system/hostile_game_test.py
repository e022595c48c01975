"""A game that works against the client: frozen from outside, every thread
suspended, or its loader list looped back on itself. Whatever the game
does, the heartbeat keeps its 5 s period, the looped list is reported, and
"Stop AntiCheat" ends the client within 2 s with its usual last line (the
time counted includes starting the menu tool under Wine)."""

import os
import signal
import time
import unittest

from harness import SessionTest, wait_for

WATCH_S = 32            # past the 10 s after which a hung check is reported
PERIOD_S = (4.9, 5.35)  # 5.0-5.3 s, widened by the 50 ms the arrivals are polled at
STOP_WITHIN_S = 2.0


class HostileGame(SessionTest):

    def game_pids(self):
        """The Linux processes of the box's game, by its prefix and its name."""
        pids = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if b"iw3mp.exe" in cmdline and ("WINEPREFIX=" + self.box.prefix).encode() in environ:
                pids.append(int(pid))
        return pids

    def heartbeat_arrivals(self, seconds):
        """When each heartbeat came (monotonic seconds), watching for that long."""
        arrivals, seen, end = [], len(self.server.events("heartbeat")), time.monotonic() + seconds
        while time.monotonic() < end:
            count = len(self.server.events("heartbeat"))
            arrivals += [time.monotonic()] * (count - seen)
            seen = count
            time.sleep(0.05)
        return arrivals

    def stop_promptly(self):
        asked = time.monotonic()
        self.box.acctl("stop")
        self.assertEqual(self.box.wait_client_exit(10), 0)
        took = time.monotonic() - asked
        self.assertLess(took, STOP_WITHIN_S)
        self.assertEqual(self.box.log_lines()[-1], "[AC] Marvik AntiCheat stopped.", self.box.log_text())
        return took

    def run_case(self, label, game_args=(), command=None, freeze=False):
        self.box.start_game(width=32, args=game_args)
        self.box.start_client()
        self.assertTrue(self.server.wait_events("heartbeat", timeout=60), self.box.log_text())
        frozen = []
        if command:
            with open(self.box.games[0][1] + ".cmd", "w") as f:
                f.write(command + "\n")
        if freeze:
            frozen = self.game_pids()
            self.assertTrue(frozen)
            self.addCleanup(lambda: [os.kill(p, signal.SIGCONT) for p in frozen])
            for pid in frozen:
                os.kill(pid, signal.SIGSTOP)
        arrivals = self.heartbeat_arrivals(WATCH_S)
        periods = [b - a for a, b in zip(arrivals, arrivals[1:])]
        took = self.stop_promptly()
        reports = [r["description"] for r in self.server.events("memory_report")]
        print("%s: heartbeat periods %s s, stopped in %.2f s, memory reports %s"
              % (label, " ".join("%.2f" % p for p in periods), took, reports))
        self.assertGreaterEqual(len(periods), WATCH_S // 5 - 1, periods)
        for p in periods:
            self.assertTrue(PERIOD_S[0] <= p <= PERIOD_S[1], periods)
        return reports

    def test_frozen_game(self):
        # The game's processes stopped as a debugger or SIGSTOP stops them.
        self.run_case("frozen", freeze=True)

    def test_every_thread_suspended(self):
        self.run_case("suspended", command="suspend-all")

    def test_looped_loader_list(self):
        reports = self.run_case("looped list", command="loop-loader")
        looped = [r for r in reports if r.startswith("Loader list tampered: loop at 0x")]
        self.assertTrue(looped and looped[0].endswith("(32-bit list)"), reports)


if __name__ == "__main__":
    unittest.main()
