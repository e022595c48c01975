"""What cheats leave in a 32-bit (WOW64) and a 64-bit game reaches the server and the log, each fixture a switch
of the stand-in game: every memory report, the debugger flag of a hardware breakpoint, and a program holding the
game with write rights (not one with query rights) as a cheat process."""

import re

from harness import SessionTest, read_text

FIXTURES = ("--thread-private", "--dr0", "--code-nop", "--code-detour", "--map-rx", "--iat-hook", "--vtable-hook",
            "--unsigned-hook")


class TamperedGame(SessionTest):
    def hold(self, rights):
        """The stand-in as handle_holder.exe holding the game with those rights; its Windows pid."""
        self.box.start_game("handle_holder.exe", "tools/" + rights, ("--hold-" + rights, "iw3mp.exe"))
        return int(read_text(self.box.games[-1][1] + ".ready").split("=")[1])

    def check(self, width):
        self.box.start_game(width=width, args=FIXTURES)
        with open(self.box.games[0][1] + ".report") as f:
            report = f.read()
        nop = int(re.search(r"^code-nop addr=(0x[0-9a-f]+)", report, re.M).group(1), 16)
        detour_at, detour_to, kernel32 = (int(v, 16) for v in re.search(
            r"^code-detour addr=(0x[0-9a-f]+) target=(0x[0-9a-f]+) module_base=(0x[0-9a-f]+)", report, re.M).groups())
        querying, writing = self.hold("query"), self.hold("write")
        self.box.start_client()
        srv = self.server

        beat = srv.wait_events("heartbeat", timeout=60)
        self.assertTrue(beat, self.box.log_text())
        self.assertEqual(beat[0]["debugger"], 1)
        self.assert_log("[ALERT] Debugger detected!", timeout=10)
        self.assert_log("[MD5] Cheat process detected: handle_holder.exe [handle to game: read/write memory, change "
                        "protections] PID=%d md5=" % writing)

        self.assert_log("[MEMSCAN] Sent ", 90)
        reports = srv.wait_events("memory_report", 8, timeout=10) or srv.events("memory_report")
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
        self.assertEqual(len(described), len(expected), (srv.events("memory_report"), self.box.log_text()))
        for (description, size, address), (pattern, want_size, want_address) in zip(described, expected):
            self.assertRegex(description, "^" + pattern, described)
            self.assertEqual((size, address), (want_size or size, want_address or address), described)
        # Only the writer, whichever process checks have run by now.
        flagged = set(re.findall(r"Cheat process detected: .* PID=(\d+) ", self.box.log_text()))
        self.assertEqual(flagged, {str(writing)}, querying)

    def test_32_bit_game(self):
        self.check(32)

    def test_64_bit_game(self):
        self.check(64)

