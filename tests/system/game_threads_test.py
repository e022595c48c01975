"""Game threads and handles on the game, for a 32-bit game (under WOW64 as
players run it) and a 64-bit one: a thread started in private executable
memory reaches the server as a memory report, a hardware breakpoint on a
game thread as the heartbeat's debugger flag, and a program holding the
game open with write rights as a "Cheat process detected" line; the same
program holding only a query handle raises nothing."""

import os
import re
import shutil
import subprocess
import unittest

from harness import BUILD, WINE, SessionTest, wait_for

HOLDER = os.path.join(BUILD, "tools", "handle_holder", "handle_holder.exe")


class GameThreadsAndHandles(SessionTest):
    def hold(self, rights):
        """handle_holder.exe holding the game with those rights; its Windows pid."""
        tools = os.path.join(self.box.prefix, "drive_c", "tools")
        os.makedirs(tools, exist_ok=True)
        shutil.copy(HOLDER, os.path.join(tools, "handle_holder.exe"))
        proc = subprocess.Popen([WINE, r"C:\tools\handle_holder.exe", "iw3mp.exe", rights], env=self.box.env,
                                cwd=self.box.tmp, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.box.programs.append(proc)
        line = proc.stdout.readline()
        self.assertTrue(line.startswith("held pid="), line)
        return int(line.split("=")[1])

    def check(self, width):
        self.box.start_game(width=width, args=("--thread-private", "--dr0"))
        ready = self.box.games[-1][1] + ".ready"
        self.assertTrue(wait_for(lambda: os.path.exists(ready), 30))
        querying = self.hold("query")
        writing = self.hold("write")
        self.box.start_client()
        srv = self.server

        beat = srv.wait_events("heartbeat", timeout=60)
        self.assertTrue(beat, self.box.log_text())
        self.assertEqual(beat[0]["debugger"], 1)
        self.assertTrue(self.box.wait_log("[ALERT] Debugger detected!", timeout=10), self.box.log_text())

        line = ("[MD5] Cheat process detected: handle_holder.exe [handle to game: read/write memory, change "
                "protections] PID=%d md5=" % writing)
        self.assertTrue(self.box.wait_log(line, timeout=20), self.box.log_text())
        self.assertNotIn("PID=%d " % querying, self.box.log_text())

        reports = srv.wait_events("memory_report", timeout=40)
        self.assertTrue(reports, self.box.log_text())
        self.assertEqual(len(reports), 1, reports)
        self.assertRegex(reports[0]["description"], r"^Thread in unowned code tid=\d+ start")
        self.assertIn("[MEMSCAN] Found 1 suspicious memory regions!", self.log_lines())
        # Only the writer, whichever process checks have run by now.
        flagged = set(re.findall(r"Cheat process detected: .* PID=(\d+) ", self.box.log_text()))
        self.assertEqual(flagged, {str(writing)})

    def test_32_bit_game(self):
        self.check(32)

    def test_64_bit_game(self):
        self.check(64)


if __name__ == "__main__":
    unittest.main()
