"""Sessions ended again and again, by a kick or by the game's end, while a worker of the first one hangs past its
session (the test build's hold hook, as a system call that never returns): no crash, hang or leaked thread or
handle, the pause between sessions kept, and nothing from an old session in a new one."""

import os
import re
import time

from harness import FIXTURES, HOLD_EXE, NIIF_ERROR, NIIF_INFO, SessionTest, read_text, wait_for

ROUNDS = 8
ENDED = "[AC] Game session ended. Waiting for next launch..."
HANDLES_DRIFT = 2  # under Wine an event handle appears once, in some round; a leak adds one every round
PROCESS_CHECK_SPACING_S = 30


class SessionChurn(SessionTest):
    exe = HOLD_EXE
    server_options = ("--kick-after", "1")  # while the workers start or send their first reports

    def test_kicks_and_killed_games_many_times_with_a_stale_worker(self):
        self.box.start_program(os.path.join(FIXTURES, "marvik_test_tool.exe"), "notes.exe")  # a flagged program
        self.box.start_game()
        self.box.start_client(MARVIK_TEST_HOLD="heartbeat=20000")  # the first heartbeat cycle hangs 20 s
        released = lambda: "released" in read_text(self.box.path("marvik_hold.txt"))
        held, free, was_released = [], [], False  # (threads, handles) in the pauses, by the worker's state
        for round_ in range(ROUNDS):
            self.assertTrue(wait_for(lambda: self.box.log_lines().count(ENDED) >= round_ + 1, 60),
                            self.box.log_text())
            time.sleep(0.5)
            stats = tuple(map(int, re.search(r"threads=(\d+) handles=(\d+)", self.box.acctl("stats")).groups()))
            if not released():
                held.append(stats)
            elif was_released:  # let go before the previous pause: ended by now
                free.append(stats)
            was_released = released()
            if round_ % 2 == 1:  # the game killed this time, and a fresh one started
                self.box.stop_game()
                self.box.start_game()
        # In the pause: the UI and monitor threads, and while it hangs the held heartbeat and its checks' thread.
        self.assertTrue(held and len(free) >= 3, (held, free))
        self.assertEqual({t for t, _ in held} | {t + 2 for t, _ in free}, {held[0][0]}, (held, free))
        handles = [h for _, h in free]
        self.assertTrue(min(handles) > 0 and max(handles) - min(handles) <= HANDLES_DRIFT, free)
        self.assertGreater(min(h for _, h in held), max(handles), (held, free))

        self.assertGreaterEqual(self.box.log_lines().count("[AC] Server kicked us!"), ROUNDS - ROUNDS // 2)
        self.assertEqual(self.box.wait_tray(lambda e: e["info"] == "Kicked by server!")["infoflags"], NIIF_ERROR)
        # The first teardown did not wait for the held worker; the next session finds the game on its first poll:
        # the 5000 ms pause, then the 3000 ms settle before the balloon.
        ending = self.box.wait_tray(lambda e: e["tip"].endswith("Session ended"))
        ended = self.box.wait_tray(lambda e: e["info"] == "Game ended. Waiting for next launch...")
        detected = [e["t"] for e in self.box.tray_events() if e["info"] == "Game detected! Connecting..."]
        self.assertLessEqual(ended["t"] - ending["t"], 7000)
        self.assertEqual(ended["infoflags"], NIIF_INFO)
        self.assertAlmostEqual(detected[1] - ended["t"], 8000, delta=800)

        # Each session's packets come before the next one's hello; the first sent no heartbeat (its only cycle was
        # the held one), every later one its own.
        starts = {h["session"]: h["t_ms"] for h in reversed(self.server.events("hello"))}  # each one's first hello
        order = sorted(starts.items(), key=lambda kv: kv[1])
        self.assertGreaterEqual(len(order), ROUNDS)
        for (old, _), (_, next_start) in zip(order, order[1:]):
            self.assertEqual([e for e in self.server.events() if e.get("session") == old and e["t_ms"] > next_start
                              and e["event"] != "sent"], [], old)
        beat_sessions = {b["session"] for b in self.server.events("heartbeat")}
        self.assertTrue(beat_sessions >= {s for s, _ in order[1:-1]} and order[0][0] not in beat_sessions,
                        self.server.events("heartbeat"))
        # The running-process check keeps its 30 s across sessions of about 10 s (log times are whole seconds).
        seen = [int(h) * 3600 + int(m) * 60 + int(s) for h, m, s in re.findall(
            r"^\[(\d\d):(\d\d):(\d\d)\] \[MD5\] Cheat process detected: notes\.exe ", self.box.log_text(), re.M)]
        self.assertGreaterEqual(len(seen), 2, self.box.log_text())
        self.assertGreaterEqual(min((b - a) % 86400 for a, b in zip(seen, seen[1:])), PROCESS_CHECK_SPACING_S - 1, seen)
        self.stop_client()

