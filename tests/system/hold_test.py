"""Threads that hang: the test build of the client (the hold hook) stalls a
thread where no stop signal reaches it, as a system call that never returns
would. The program must still end cleanly, and a worker that outlives its
session must neither hold up the teardown nor act in the next session."""

import re
import time
import unittest

from harness import HOLD_EXE, SessionTest, SystemTest, wait_for
from session_test import game_files

CONFIG = "server_ip=127.0.0.1\nserver_port=28961\nplayer_name=Tester\nauto_start=1\n"


def hold_notes(box):
    """(tick, place, what) for each line of marvik_hold.txt."""
    try:
        with open(box.path("marvik_hold.txt")) as f:
            return [(int(t), p, w) for t, p, w in (line.split() for line in f.read().splitlines())]
    except FileNotFoundError:
        return []


def seconds(stamp):
    h, m, s = (int(x) for x in stamp.split(":"))
    return h * 3600 + m * 60 + s


def stamped(box, needle):
    """Seconds of the day of every log line holding needle."""
    return [seconds(m.group(1)) for m in re.finditer(r"^\[(\d\d:\d\d:\d\d)\] (.*)$", box.log_text(), re.M)
            if needle in m.group(2)]


class MonitorHeldPastTheShutdownWait(SystemTest):
    exe = HOLD_EXE

    def test_process_ends_with_code_0_while_the_monitor_still_works(self):
        self.box.write_config(CONFIG)
        # The monitor, once stopped, stalls for 40 s busy with the shared
        # configuration and module baseline, well past the 10 s the UI
        # thread waits for it.
        self.box.start_client(MARVIK_TEST_HOLD="monitor=40000")
        self.assertTrue(self.box.wait_log("[WAIT] Waiting for iw3mp.exe..."), self.box.log_text())
        asked = time.monotonic()
        self.assertEqual(self.box.acctl("stop")[0], 0)
        self.assertTrue(wait_for(lambda: any(p == "monitor" for _, p, _ in hold_notes(self.box)), 15))
        code = self.box.wait_client_exit(25)
        took = time.monotonic() - asked
        self.assertEqual(code, 0)
        self.assertGreater(took, 9.0)
        self.assertLess(took, 10.0 + 4.0)
        # Ended while the monitor was still held, not by its return, and
        # without destroying the statics under it.
        notes = hold_notes(self.box)
        self.assertEqual([w for _, p, w in notes if p == "monitor"], ["held"])
        self.assertFalse([n for n in notes if n[1] == "exit"], notes)
        self.assertNotIn("Marvik AntiCheat stopped.", self.box.log_text())
        print("shutdown with a held monitor took %.1f s" % took)


class WorkerHeldPastItsSession(SessionTest):
    exe = HOLD_EXE
    # Every session is kicked a second after its verdict.
    server_options = ("--kick-after", "1")

    def threads(self):
        rc, out = self.box.acctl("stats")
        m = re.search(r"threads=(\d+)", out)
        self.assertTrue(m, out)
        return int(m.group(1))

    def test_teardown_is_bounded_and_the_stale_worker_ends_without_acting(self):
        game_files(self.box)
        self.box.start_game()
        # The first heartbeat cycle hangs for 30 s inside its checks.
        self.box.start_client(MARVIK_TEST_HOLD="heartbeat=30000")
        ended = lambda: self.box.log_text().count("[AC] Game session ended. Waiting for next launch...")
        self.assertTrue(wait_for(lambda: ended() >= 1, 60), self.box.log_text())
        # In the pause between sessions: the held heartbeat is the one worker left.
        time.sleep(0.5)
        with_stale = self.threads()
        first_hello = self.server.events("hello")[0]

        # The first session's teardown did not wait for the held worker.
        ending = stamped(self.box, "[AC] Session ending...")[0]
        over = stamped(self.box, "[AC] Game session ended. Waiting for next launch...")[0]
        self.assertLessEqual((over - ending) % 86400, 7, self.box.log_text())
        self.assertEqual([w for _, p, w in hold_notes(self.box) if p == "heartbeat"], ["held"])

        # Later sessions run normally while it is held, and after it is let go.
        released = wait_for(lambda: any(w == "released" for _, _, w in hold_notes(self.box)), 60)
        self.assertTrue(released)
        after = ended()
        self.assertTrue(wait_for(lambda: ended() >= after + 1, 60), self.box.log_text())
        time.sleep(0.5)
        self.assertEqual(self.threads(), with_stale - 1)

        # Nothing of the first session's left the client after its end: no
        # heartbeat of its session id at all (its only cycle was the held
        # one), and every later session sent its own heartbeats.
        beats = self.server.events("heartbeat")
        self.assertFalse([b for b in beats if b["session"] == first_hello["session"]], beats)
        later = {h["session"] for h in self.server.events("hello")[1:]}
        self.assertTrue(later and all(b["session"] in later for b in beats), beats)
        self.assertTrue(self.box.client_alive())


if __name__ == "__main__":
    unittest.main()
