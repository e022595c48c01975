"""What the checks find reaches the server, the log and the tray: a cheat-table DLL, a memory editor known by its
name alone, a DLL injected mid-session, a real debugger; and what cheats leave in a 32-bit (WOW64) and a 64-bit game,
each fixture a switch of the stand-in game: every memory report, the debugger flag of a hardware breakpoint, and a
program holding the game with write rights (not one with query rights) as a cheat process."""

import os
import re
import shutil
import subprocess

from harness import BUILD, FIXTURES, NIIF_WARNING, SessionTest, read_text

TEST_MD5 = "b525a69694bfb01741d0411ebeb90e79"
SWITCHES = ("--thread-private", "--dr0", "--code-nop", "--code-detour", "--map-rx", "--iat-hook", "--vtable-hook",
            "--unsigned-hook")


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

        # A DLL loaded mid-session: the alert, the flag and a fresh module list.
        lists_before = len(srv.events("module_list"))
        self.box.game_command("load C:\\game\\marvik_plain.dll")
        self.assert_log("[ALERT] New module injection detected!", timeout=15)
        self.assertTrue(srv.wait_events("heartbeat", timeout=10, where=lambda e: e["module_alert"] == 1))
        later = srv.wait_events("module_list", lists_before + 1, timeout=10)
        self.assertTrue(any(m["name"] == "marvik_plain.dll" for m in later[-1]["modules"]), later[-1])

        pid = re.search(r"Found iw3mp\.exe \(PID: (\d+)\)", self.box.log_text()).group(1)
        self.box.others.append(self.box.popen("winedbg", pid, stdin=subprocess.PIPE))
        self.assertTrue(srv.wait_events("heartbeat", timeout=20, where=lambda e: e["debugger"]), self.box.log_text())
        self.assert_log("[ALERT] Debugger detected!", timeout=10)
        self.assertEqual(self.box.wait_tray(lambda e: e["info"] == "Debugger detected!")["infoflags"], NIIF_WARNING)

    def check_tampered(self, width):
        self.box.start_game(width=width, args=SWITCHES)
        report = read_text(self.box.games[0][1] + ".report")
        nop = int(re.search(r"^code-nop addr=(0x[0-9a-f]+)", report, re.M).group(1), 16)
        detour_at, detour_to, kernel32 = (int(v, 16) for v in re.search(
            r"^code-detour addr=(0x[0-9a-f]+) target=(0x[0-9a-f]+) module_base=(0x[0-9a-f]+)", report, re.M).groups())
        for rights in ("query", "write"):  # the stand-in as handle_holder.exe holding the game with those rights
            self.box.start_game("handle_holder.exe", "tools/" + rights, ("--hold-" + rights, "iw3mp.exe"))
        querying, writing = (int(read_text(path + ".ready").split("=")[1]) for _, path in self.box.games[1:])
        self.box.start_client()

        beat = self.server.wait_events("heartbeat", timeout=60)
        self.assertTrue(beat, self.box.log_text())
        self.assertEqual(beat[0]["debugger"], 1)
        self.assert_log("[ALERT] Debugger detected!", timeout=10)
        self.assert_log("[MD5] Cheat process detected: handle_holder.exe [handle to game: read/write memory, change "
                        "protections] PID=%d md5=" % writing)

        self.assert_log("[MEMSCAN] Sent ", 90)
        reports = self.server.wait_events("memory_report", 8, timeout=10) or self.server.events("memory_report")
        self.assertIn("[MEMSCAN] Found 8 suspicious memory regions!", self.box.log_lines(), reports)
        self.assertEqual({r["hit_flag"] for r in reports}, {1}, reports)
        described = sorted((r["description"].lower(), r["size"], int(r["address"], 16)) for r in reports)
        unsigned_hook = (r"code patch d3d9\.dll\+0x[0-9a-f]+ -> render_hook\.dll\+0x[0-9a-f]+ unsigned", None, None)
        expected = [
            unsigned_hook, unsigned_hook,
            (r"code patch iw3mp\.exe\+0x[0-9a-f]+ \(3 bytes\)", 3, nop & 0xFFFFFFFF),
            (re.escape("code patch kernel32.dll+0x%x -> private 0x%0*x" % (
                detour_at - kernel32, 12 if width == 64 else 8, detour_to)), 12 if width == 64 else 5,
             detour_at & 0xFFFFFFFF),
            (r"foreign code: \d+ imports, \d+ kib private", None, None),
            (r"import hook kernel32\.dll!sleep -> private 0x[0-9a-f]+", 8 if width == 64 else 4, None),
            (r"read-only data patch d3d9\.dll\+0x[0-9a-f]+ -> private 0x[0-9a-f]+", None, None),
            (r"thread in unowned code tid=\d+ start", None, None)]
        self.assertEqual(len(described), len(expected), (reports, self.box.log_text()))
        for (description, size, address), (pattern, want_size, want_address) in zip(described, expected):
            self.assertRegex(description, "^" + pattern, described)
            self.assertEqual((size, address), (want_size or size, want_address or address), described)
        # Only the writer, whichever process checks have run by now.
        flagged = set(re.findall(r"Cheat process detected: .* PID=(\d+) ", self.box.log_text()))
        self.assertEqual(flagged, {str(writing)}, querying)

    def test_tampered_32_bit_game(self):
        self.check_tampered(32)

    def test_tampered_64_bit_game(self):
        self.check_tampered(64)

