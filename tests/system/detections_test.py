"""What the checks find reaches the server, the log and the tray: a cheat-table DLL, a memory editor known by its
name alone, a DLL injected mid-session, a real debugger."""

import os
import re
import shutil
import subprocess

from harness import BUILD, FIXTURES, SessionTest, wait_for

TEST_MD5 = "b525a69694bfb01741d0411ebeb90e79"


class Detections(SessionTest):
    def test_findings_reach_the_server(self):
        for dll in ("marvik_test_aimbot.dll", "marvik_plain.dll"):
            shutil.copy(os.path.join(FIXTURES, dll), os.path.join(self.box.prefix, "drive_c", "game", dll))
        # The stand-in, whose file no table holds, under a memory editor's name.
        self.box.start_program(os.path.join(BUILD, "tools", "standin_game", "standin_game.exe"), "cheatengine-x86_64.exe")
        self.start_session(args=("--load", r"C:\game\marvik_test_aimbot.dll"))
        srv = self.server
        self.assert_log("[MD5] Cheat process detected: cheatengine-x86_64.exe [Memory editor] PID=", timeout=10)

        self.assert_log("[MD5] Cheat DLL detected: marvik_test_aimbot.dll [Marvik test signature (harmless)] md5="
                        + TEST_MD5, timeout=10)
        log = srv.wait_events("module_log", timeout=20)[0]
        self.assertEqual([m["name"] for m in log["modules"] if m["suspicious"]], ["marvik_test_aimbot.dll"], log)
        beat = srv.events("heartbeat")[0]
        self.assertEqual((beat["debugger"], beat["module_alert"], beat["integrity_alert"]), (0, 0, 0))

        # A DLL loaded mid-session: the alert, the flag and a fresh module list.
        lists_before = len(srv.events("module_list"))
        command = self.box.game_command("load C:\\game\\marvik_plain.dll")
        self.assertTrue(wait_for(lambda: not os.path.exists(command), 10))
        self.assert_log("[ALERT] New module injection detected!", timeout=15)
        self.assertTrue(srv.wait_events("heartbeat", timeout=10, where=lambda e: e["module_alert"] == 1))
        later = srv.wait_events("module_list", lists_before + 1, timeout=10)
        self.assertTrue(any(m["name"] == "marvik_plain.dll" for m in later[-1]["modules"]), later[-1])

        pid = re.search(r"Found iw3mp\.exe \(PID: (\d+)\)", self.box.log_text()).group(1)
        self.box.others.append(self.box.popen("winedbg", pid, stdin=subprocess.PIPE))
        self.assertTrue(srv.wait_events("heartbeat", timeout=20, where=lambda e: e["debugger"]), self.box.log_text())
        self.assert_log("[ALERT] Debugger detected!", timeout=10)
        self.assertEqual(self.box.wait_tray(lambda e: e["info"] == "Debugger detected!")["infoflags"], "2")

