"""Sessions ended again and again at different phases: no crash, no hang,
no leaked thread or handle, nothing from an old session in a new one."""

import time
import unittest

from harness import SessionTest, wait_for

ROUNDS = 6
# Between sessions the client's handle counts agree to within one (under
# Wine an event handle appears once, in some round, and stays); a leak of
# one handle per session leaves ROUNDS - 1 more after the last round than
# after the first.
HANDLES_DRIFT = 2


class SessionChurn(SessionTest):
    # Every session is kicked a second after its verdict, while its workers
    # are starting or busy with their first reports.
    server_options = ("--kick-after", "1")

    def test_kicks_and_killed_games_many_times(self):
        self.box.start_game()
        self.box.start_client()
        counts = []
        for round_ in range(ROUNDS):
            ended = lambda: self.box.log_text().count("[AC] Game session ended. Waiting for next launch...")
            self.assertTrue(wait_for(lambda: ended() >= round_ + 1, 60), self.box.log_text())
            # In the 5 s pause between sessions: only the UI and monitor threads.
            time.sleep(0.5)
            counts.append(self.box.stats())
            if round_ % 2 == 1:  # kill the game this time, and start a fresh one
                self.box.stop_game()
                self.box.start_game()
        print("threads and handles after each round:", counts)
        self.assertEqual(len(set(t for t, _ in counts)), 1, counts)
        handles = [h for _, h in counts]
        self.assertTrue(min(handles) > 0 and max(handles) - min(handles) <= HANDLES_DRIFT, counts)
        self.assertGreaterEqual(self.box.log_lines().count("[AC] Server kicked us!"), ROUNDS - ROUNDS // 2)
        self.assertEqual(self.box.wait_tray(lambda e: e["info"] == "Kicked by server!")["infoflags"], "3")

        # Each session's packets come before the next session's hello.
        starts = {}
        for h in self.server.events("hello"):
            starts.setdefault(h["session"], h["t_ms"])
        order = sorted(starts.items(), key=lambda kv: kv[1])
        self.assertGreaterEqual(len(order), ROUNDS)
        for (old, _), (_, next_start) in zip(order, order[1:]):
            self.assertEqual([e for e in self.server.events() if e.get("session") == old and e["t_ms"] > next_start
                              and e["event"] != "sent"], [], old)
        self.stop_client()


class StopInTheHandshake(SessionTest):
    server_options = ("--silent",)

    def test_stop_during_the_handshake(self):
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.server.wait_events("hello", timeout=40))
        self.stop_client(within=10.0 + 1.0)


if __name__ == "__main__":
    unittest.main()
