"""The running-process check's spacing across sessions under Wine, seen from
the reference server and the log. The other workers' timing and the module
scan's report becoming the baseline are checked natively (WholeSession)."""

import os
import unittest

from harness import FIXTURES, SessionTest, wait_for

TOLERANCE_S = 1.5
LOG_RESOLUTION_S = 1.0  # the log's times are whole seconds
SPACING_S = 30
TOOL_LINE = (r"^\[MD5\] Cheat process detected: notes\.exe \[Marvik test program signature \(harmless\)\] "
             r"PID=\d+ md5=2467ec4140466391f74ef8aacac47465$")


class KickedSessions(SessionTest):
    # Sessions shorter than the process check's spacing: the check's next
    # run falls in a later session, after a kick and a fresh handshake.
    server_options = ("--kick-after", "14")

    def test_process_check_keeps_its_spacing_across_sessions(self):
        self.box.start_program(os.path.join(FIXTURES, "marvik_test_tool.exe"), "notes.exe")
        self.box.start_game()
        self.box.start_client()
        seen = lambda: self.box.log_text().count("[MD5] Cheat process detected")
        self.assertTrue(wait_for(lambda: seen() >= 2, 120, step=0.5), self.box.log_text())
        srv = self.server
        # Heartbeats carry the client's tick count at the start of their
        # cycle; the cycle due for the second check has sent its own.
        since_first = lambda b: (b["tick_count"] - srv.events("heartbeat")[0]["tick_count"]) & 0xFFFFFFFF
        due = srv.wait_events("heartbeat", where=lambda b: since_first(b) > (SPACING_S + TOLERANCE_S) * 1000)
        self.assertTrue(due, srv.events("heartbeat"))
        lines = self.box.timed_log_lines()
        beats = srv.events("heartbeat")
        # The process check: at once in the first session, then not before
        # 30 s have passed, although a new session began in between, and at
        # the first heartbeat cycle after that.
        (t1, i1), (t2, i2) = [(t, i) for i, (t, l) in enumerate(lines) if l.startswith("[MD5] Cheat process")][:2]
        self.assertRegex(lines[i1][1], TOOL_LINE)
        self.assertLessEqual(t1 - next(t for t, l in lines if l == "[AC] AntiCheat is running."), TOLERANCE_S)
        self.assertIn("[AC] Server kicked us!", [l for _, l in lines[i1:i2]])
        self.assertGreaterEqual(t2 - t1, SPACING_S - TOLERANCE_S)
        # A later session's first cycle came well inside the 30 s (else this
        # proves nothing).
        second_session = next((b for b in beats if b["session"] != beats[0]["session"]), None)
        self.assertTrue(second_session, self.box.log_text())
        self.assertLess(since_first(second_session), (SPACING_S - 3) * 1000)
        print("process check spacing %d s (log); after the first cycle: next session's first cycle %d ms, "
              "due cycle %d ms" % (t2 - t1, since_first(second_session), since_first(due[0])))
        self.assertLessEqual(t2 - t1, since_first(due[0]) / 1000 + TOLERANCE_S + LOG_RESOLUTION_S)


if __name__ == "__main__":
    unittest.main()
