"""What the checks find reaches the server and the log: a cheat-table DLL,
a DLL injected mid-session, a real debugger. (Memory reports are
tampered_game_test's.)"""

import os
import re
import shutil
import subprocess
import unittest

from harness import FIXTURES, SessionTest, wait_for

TEST_MD5 = "b525a69694bfb01741d0411ebeb90e79"


class Detections(SessionTest):
    def test_findings_reach_the_server(self):
        for dll in ("marvik_test_aimbot.dll", "marvik_plain.dll"):
            shutil.copy(os.path.join(FIXTURES, dll), os.path.join(self.box.prefix, "drive_c", "game", dll))
        self.box.start_game(args=("--load", r"C:\game\marvik_test_aimbot.dll"))
        self.box.start_client()
        srv = self.server
        self.assertTrue(srv.wait_events("heartbeat", 1, timeout=60), self.box.log_text())

        # The cheat-table DLL: a log line per cycle and the flag in the module log.
        line = "[MD5] Cheat DLL detected: marvik_test_aimbot.dll [Marvik test signature (harmless)] md5=" + TEST_MD5
        self.assertTrue(self.box.wait_log(line, timeout=10), self.box.log_text())
        log = srv.wait_events("module_log", timeout=20)[0]
        self.assertEqual([m["name"] for m in log["modules"] if m["suspicious"]], ["marvik_test_aimbot.dll"], log)
        beat = srv.events("heartbeat")[0]
        self.assertEqual((beat["debugger"], beat["module_alert"], beat["integrity_alert"]), (0, 0, 0))

        # A DLL loaded mid-session: the alert, the flag and a fresh module list.
        lists_before = len(srv.events("module_list"))
        command = self.box.games[0][1] + ".cmd"
        with open(command, "w") as f:
            f.write("load C:\\game\\marvik_plain.dll\n")
        self.assertTrue(wait_for(lambda: not os.path.exists(command), 10))
        self.assertTrue(self.box.wait_log("[ALERT] New module injection detected!", timeout=15), self.box.log_text())
        self.assertTrue(srv.wait_events("heartbeat", timeout=10, where=lambda e: e["module_alert"] == 1))
        later = srv.wait_events("module_list", lists_before + 1, timeout=10)
        self.assertTrue(any(m["name"] == "marvik_plain.dll" for m in later[-1]["modules"]), later[-1])

        # A real debugger on the game.
        pid = re.search(r"Found iw3mp\.exe \(PID: (\d+)\)", self.box.log_text()).group(1)
        self.box.others.append(self.box.popen("winedbg", pid, stdin=subprocess.PIPE))
        self.assertTrue(srv.wait_events("heartbeat", timeout=20, where=lambda e: e["debugger"]), self.box.log_text())
        self.assertTrue(self.box.wait_log("[ALERT] Debugger detected!", timeout=10))
        self.assertEqual(self.box.wait_tray(lambda e: e["info"] == "Debugger detected!")["infoflags"], "2")


if __name__ == "__main__":
    unittest.main()
