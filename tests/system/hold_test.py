"""Threads that hang: the test build of the client (the hold hook) stalls a
thread where no stop signal reaches it, as a system call that never returns
would. The program must still end cleanly, and a worker that outlives its
session must neither hold up the teardown nor act in the next session."""

import time
import unittest

from harness import HOLD_EXE, SessionTest, SystemTest, read_text, wait_for

ENDED = "[AC] Game session ended. Waiting for next launch..."


def hold_notes(box, place=None):
    """What marvik_hold.txt says happened (held, released) at that place, or at any."""
    notes = [line.split() for line in read_text(box.path("marvik_hold.txt")).splitlines()]
    return [what for _, p, what in notes if place in (None, p)]


class MonitorHeldPastTheShutdownWait(SystemTest):
    exe = HOLD_EXE

    def test_process_ends_with_code_0_while_the_monitor_still_works(self):
        self.box.write_config("server_ip=127.0.0.1\nserver_port=28961\nplayer_name=Tester\nauto_start=1\n")
        # The monitor, once stopped, stalls for 40 s busy with the shared
        # configuration and module baseline, well past the 1.5 s the UI
        # thread waits for it.
        self.box.start_client(MARVIK_TEST_HOLD="monitor=40000")
        self.assertTrue(self.box.wait_log("[WAIT] Waiting for iw3mp.exe..."), self.box.log_text())
        asked = time.monotonic()
        self.box.acctl("stop")
        self.assertTrue(wait_for(lambda: hold_notes(self.box, "monitor"), 15))
        self.assertEqual(self.box.wait_client_exit(25), 0)
        took = time.monotonic() - asked
        print("shutdown with a held monitor took %.1f s" % took)
        self.assertGreater(took, 1.5)
        self.assertLess(took, 1.5 + 4.0)
        # Ended while the monitor was still held, not by its return, and
        # without destroying the statics under it (the hook's "exit" note);
        # the shutdown wrote the last line in the monitor's place, once.
        self.assertEqual(hold_notes(self.box), ["held"])
        self.assertEqual(self.box.log_lines().count("[AC] Marvik AntiCheat stopped."), 1, self.box.log_text())


class WorkerHeldPastItsSession(SessionTest):
    exe = HOLD_EXE
    # Every session is kicked a second after its verdict.
    server_options = ("--kick-after", "1")

    def test_teardown_is_bounded_and_the_stale_worker_ends_without_acting(self):
        self.box.start_game()
        # The first heartbeat cycle hangs for 30 s inside its checks.
        self.box.start_client(MARVIK_TEST_HOLD="heartbeat=30000")
        ended = lambda: self.box.log_lines().count(ENDED)
        self.assertTrue(wait_for(lambda: ended() >= 1, 60), self.box.log_text())
        # In the pause between sessions: the held heartbeat and the thread
        # that runs its checks of the game are the workers left.
        time.sleep(0.5)
        with_stale = self.box.stats()[0]
        first_session = self.server.events("hello")[0]["session"]

        # The first session's teardown did not wait for the held worker.
        lines = self.box.timed_log_lines()
        ending = next(t for t, l in lines if l == "[AC] Session ending...")
        self.assertLessEqual(next(t for t, l in lines if l == ENDED) - ending, 7, self.box.log_text())
        self.assertEqual(hold_notes(self.box, "heartbeat"), ["held"])

        # Later sessions run normally while it is held, and after it is let go.
        self.assertTrue(wait_for(lambda: "released" in hold_notes(self.box), 60))
        after = ended()
        self.assertTrue(wait_for(lambda: ended() >= after + 1, 60), self.box.log_text())
        time.sleep(0.5)
        self.assertEqual(self.box.stats()[0], with_stale - 2)

        # Nothing of the first session's left the client after its end: no
        # heartbeat of its session id at all (its only cycle was the held
        # one), and every later session sent its own heartbeats.
        beats = self.server.events("heartbeat")
        later = {h["session"] for h in self.server.events("hello")} - {first_session}
        self.assertTrue(later and all(b["session"] in later for b in beats), beats)
        self.assertTrue(self.box.client_alive())


if __name__ == "__main__":
    unittest.main()
