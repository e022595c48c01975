"""The session workers' timing, seen from the reference server and the log:
the first heartbeat at once, the memory scan's first wait, the running-process
check's spacing across sessions, the module scan's report as the baseline,
and no log line for a module flagged without a label."""

import os
import shutil
import sys
import unittest

from harness import FIXTURES, ROOT, SessionTest, wait_for
from session_test import game_files

sys.path.insert(0, os.path.join(ROOT, "tools", "fixtures"))
import make_test_dll  # noqa: E402

TOLERANCE_S = 1.5
# The log's times are whole seconds: a gap read from it is off by less than one.
LOG_RESOLUTION_S = 1.0
PROCESS_CHECK_SPACING_S = 30
MEMORY_SCAN_FIRST_WAIT_S = 10
TOOL_LINE = ("[MD5] Cheat process detected: notes.exe [Marvik test program signature (harmless)] PID=%s "
             "md5=2467ec4140466391f74ef8aacac47465")


def seconds_after(lines, start, needle):
    """Time of the first line containing needle at or after index start, and its index."""
    return next(((t, i) for i, (t, line) in enumerate(lines) if i >= start and needle in line), (None, None))


class KickedSessions(SessionTest):
    # Sessions shorter than the process check's spacing, long enough for
    # the memory scan's first pass: the check's next run falls in a later
    # session, after a kick and a fresh handshake.
    server_options = ("--kick-after", "14")

    def test_heartbeat_memory_scan_and_process_check_timing(self):
        game_files(self.box)
        self.box.start_program(os.path.join(FIXTURES, "marvik_test_tool.exe"), "notes.exe")
        self.box.start_game()
        self.box.start_client()
        # Two sessions' memory scans and two process checks.
        seen = lambda: min(self.box.log_text().count("[MEMSCAN] Scanning game memory..."),
                           self.box.log_text().count("[MD5] Cheat process detected"))
        self.assertTrue(wait_for(lambda: seen() >= 2, 120, step=0.5), self.box.log_text())
        srv = self.server
        # Heartbeats carry the client's tick count at the start of their
        # cycle; the cycle due for the second check has sent its own.
        since_first = lambda b: (b["tick_count"] - srv.events("heartbeat")[0]["tick_count"]) & 0xFFFFFFFF
        due = srv.wait_events("heartbeat", timeout=10,
                              where=lambda b: since_first(b) > (PROCESS_CHECK_SPACING_S + TOLERANCE_S) * 1000)
        self.assertTrue(due, srv.events("heartbeat"))
        lines = self.timed_log_lines()
        verdicts = [e for e in srv.events("sent") if e["packet"] == "PKT_VERIFY_OK"]
        beats = srv.events("heartbeat")
        self.assertGreaterEqual(len(verdicts), 2, self.box.log_text())

        # The first heartbeat of every session leaves right after its verdict.
        delays = []
        for verdict in verdicts:
            first = next((b for b in beats if b["session"] == verdict["session"]), None)
            if first is not None:  # else the session the check ended on
                delays.append(first["t_ms"] - verdict["t_ms"])
        print("verdict to first heartbeat (ms):", delays)
        self.assertGreaterEqual(len(delays), 2)
        for delay in delays:
            self.assertLess(delay, TOLERANCE_S * 1000, delays)

        # The memory scan's first pass, 10 s after the workers start.
        running = [i for i, (_, l) in enumerate(lines) if l == "[AC] AntiCheat is running."]
        waits = []
        for k, i in enumerate(running):
            end = running[k + 1] if k + 1 < len(running) else len(lines)
            t, j = seconds_after(lines, i, "[MEMSCAN] Scanning game memory...")
            if j is not None and j < end:
                waits.append(t - lines[i][0])
        print("memory scan's first wait (s, log):", waits)
        self.assertGreaterEqual(len(waits), 2, self.box.log_text())
        for wait in waits:
            self.assertAlmostEqual(wait, MEMORY_SCAN_FIRST_WAIT_S, delta=TOLERANCE_S)

        # The process check: at once in the first session, then not before
        # 30 s have passed, although a new session began in between, and at
        # the first heartbeat cycle after that.
        (t1, i1), (t2, i2) = [(t, i) for i, (t, l) in enumerate(lines) if l.startswith("[MD5] Cheat process")][:2]
        pid = lines[i1][1].rsplit("PID=", 1)[1].split()[0]
        self.assertEqual(lines[i1][1], TOOL_LINE % pid)
        self.assertLessEqual(t1 - lines[running[0]][0], TOLERANCE_S)
        self.assertIn("[AC] Server kicked us!", [l for _, l in lines[i1:i2]])
        self.assertGreaterEqual(t2 - t1, PROCESS_CHECK_SPACING_S - TOLERANCE_S)
        # The first heartbeat cycle ran the check; a later session's first
        # cycle came well inside the 30 s (else this proves nothing).
        second_session = next(b for b in beats if b["session"] != beats[0]["session"])
        self.assertLess(since_first(second_session), (PROCESS_CHECK_SPACING_S - 3) * 1000)
        print("process check spacing %d s (log); after the first cycle: next session's first cycle %d ms, "
              "due cycle %d ms" % (t2 - t1, since_first(second_session), since_first(due[0])))
        self.assertLessEqual(t2 - t1, since_first(due[0]) / 1000 + TOLERANCE_S + LOG_RESOLUTION_S)


class ModuleBaseline(SessionTest):
    # No verdict: the client waits 5 s for it after its challenge response,
    # with the session's baseline already taken, which leaves time to load
    # a module that only the module scan thread's first report will list.
    server_options = ("--no-verdict",)

    def dll(self, folder, name, variant):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(make_test_dll.build(variant))
        return path

    def test_the_scan_report_becomes_the_baseline(self):
        game = game_files(self.box)
        temp_win = self.box.wine("cmd", "/c", "echo %TEMP%").stdout.strip()
        temp = os.path.join(self.box.prefix, "drive_c", *temp_win[3:].split("\\"))
        os.makedirs(temp, exist_ok=True)
        self.dll(temp, "marvik_helper.dll", 4)
        self.dll(game, "marvik_early.dll", 2)
        self.dll(game, "marvik_late.dll", 3)
        shutil.copy(os.path.join(FIXTURES, "marvik_test_aimbot.dll"), game)
        self.box.start_game(args=("--load", r"C:\game\marvik_test_aimbot.dll",
                                  "--load", temp_win + r"\marvik_helper.dll"))
        self.box.start_client()
        srv = self.server
        self.assertTrue(srv.wait_events("challenge_response", timeout=60), self.box.log_text())
        self.assertTrue(self.box.game_command(r"load C:\game\marvik_early.dll"))
        logs = srv.wait_events("module_log", 2, timeout=30)
        self.assertEqual(len(logs), 2, self.box.log_text())
        names = [[m["name"] for m in log["modules"]] for log in logs]
        self.assertNotIn("marvik_early.dll", names[0])
        self.assertIn("marvik_early.dll", names[1])

        # Once the first report is the baseline, the module it listed is no
        # injection (only a cycle that compared before the report was in may
        # have flagged it).
        after_first = lambda e: e["t_ms"] > logs[1]["t_ms"] + 2000
        quiet = srv.wait_events("heartbeat", 2, timeout=20, where=after_first)
        self.assertEqual([b["module_alert"] for b in quiet], [0, 0], srv.events("heartbeat"))

        # A module loaded later is an injection at every cycle until the
        # next report lists it, then no more.
        self.assertTrue(self.box.game_command(r"load C:\game\marvik_late.dll"))
        alert = srv.wait_events("heartbeat", timeout=15,
                                where=lambda e: e["module_alert"] == 1 and e["t_ms"] > quiet[1]["t_ms"])
        self.assertTrue(alert, self.box.log_text())
        self.assertTrue(self.box.wait_log("[ALERT] New module injection detected!", timeout=5))
        sent = srv.wait_events("module_list", timeout=5, where=lambda e: e["t_ms"] >= alert[0]["t_ms"])
        self.assertIn("marvik_late.dll", [m["name"] for m in sent[0]["modules"]])
        logs = srv.wait_events("module_log", 3, timeout=80)
        self.assertEqual(len(logs), 3, self.box.log_text())
        report = logs[2]
        self.assertIn("marvik_late.dll", [m["name"] for m in report["modules"]])
        later = srv.wait_events("heartbeat", 2, timeout=15, where=lambda e: e["t_ms"] > report["t_ms"] + 2000)
        self.assertEqual(len(later), 2)
        # A cycle that compared just before the report replaced the baseline
        # may arrive just after the report: those near it are left out.
        beats = srv.events("heartbeat")
        until_report = [b["module_alert"] for b in beats if alert[0]["t_ms"] <= b["t_ms"] < report["t_ms"] - 200]
        self.assertGreaterEqual(len(until_report), 2)
        self.assertEqual(until_report, [1] * len(until_report))
        self.assertEqual([b["module_alert"] for b in later], [0, 0])

        # Flagged without a label: suspicious in the module log, no log line;
        # the labelled test module beside it gets its line.
        helper = next(m for m in logs[1]["modules"] if m["name"] == "marvik_helper.dll")
        self.assertEqual(helper["suspicious"], 1)
        aimbot = next(m for m in logs[1]["modules"] if m["name"] == "marvik_test_aimbot.dll")
        self.assertEqual(aimbot["suspicious"], 1)
        text = self.box.log_text()
        self.assertIn("[MD5] Cheat DLL detected: marvik_test_aimbot.dll", text)
        self.assertNotIn("Cheat DLL detected: marvik_helper.dll", text)


if __name__ == "__main__":
    unittest.main()
