"""Patched game code reaches the server and the log: three NOPs in the
game's own code and a detour from a kernel32 export into private memory,
in a 32-bit (WOW64) and a 64-bit game. That the realistic game, its
overlay's detour included, stays silent is realistic_test's."""

import os
import re
import unittest

from harness import SessionTest, wait_for
from session_test import game_files


class CodePatches(SessionTest):
    def check_patches(self, width):
        game_files(self.box)
        self.box.start_game(width=width, args=("--code-nop", "--code-detour", "--report"))
        report_path = self.box.games[0][1] + ".report"
        self.assertTrue(wait_for(lambda: os.path.exists(report_path), 30))
        with open(report_path) as f:
            report = f.read()
        nop = int(re.search(r"^code-nop addr=(0x[0-9a-f]+)", report, re.M).group(1), 16)
        detour = re.search(r"^code-detour addr=(0x[0-9a-f]+) target=(0x[0-9a-f]+)", report, re.M)
        detour_at, detour_to = int(detour.group(1), 16), int(detour.group(2), 16)
        self.box.start_client()

        reports = self.server.wait_events("memory_report", 2, timeout=90)
        self.assertEqual(len(reports), 2, self.box.log_text())
        by_address = {int(r["address"], 16): r for r in reports}
        self.assertEqual(sorted(by_address), sorted([nop & 0xFFFFFFFF, detour_at & 0xFFFFFFFF]), reports)
        nop_report, detour_report = by_address[nop & 0xFFFFFFFF], by_address[detour_at & 0xFFFFFFFF]
        self.assertRegex(nop_report["description"], r"^Code patch iw3mp\.exe\+0x[0-9a-f]+ \(3 bytes\)$")
        self.assertEqual(nop_report["size"], 3)
        digits = 12 if width == 64 else 8
        # The loader's name of the module may differ in case from its path's.
        self.assertEqual(detour_report["description"].lower(),
                         "code patch %s+0x%x -> private 0x%0*x" % (
                             self.kernel32_name(report).lower(), detour_at - self.kernel32_base(report), digits,
                             detour_to))
        self.assertEqual(detour_report["size"], 12 if width == 64 else 5)
        lines = self.log_lines()
        self.assertIn("[MEMSCAN] Found 2 suspicious memory regions!", lines)
        self.assertIn("[MEMSCAN] Sent 2 suspicious memory regions", lines)

    @staticmethod
    def kernel32_line(report):
        return re.search(r"^module base=(0x[0-9a-f]+) size=(0x[0-9a-f]+) path=(.*\\kernel32\.dll)\s*$", report,
                         re.M | re.I)

    def kernel32_base(self, report):
        return int(self.kernel32_line(report).group(1), 16)

    def kernel32_name(self, report):
        return self.kernel32_line(report).group(3).rsplit("\\", 1)[-1]

    def test_32_bit_game(self):
        self.check_patches(32)

    def test_64_bit_game(self):
        self.check_patches(64)


if __name__ == "__main__":
    unittest.main()
