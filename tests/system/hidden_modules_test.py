"""Modules hidden from the loader list reach the server as memory reports
and the log counts them, for a 32-bit (WOW64) and a 64-bit game: a DLL
unlinked from the loader lists, a loader entry rewritten to name another
file, and the game's image copied into private memory with its headers
wiped. The realistic game's resource-only loads stay silent (realistic_test)."""

import unittest

from harness import SessionTest
from session_test import game_files

FIXTURES = ("--unlink", "version.dll", "--spoof-path", "msimg32.dll", "--hand-map")
EXPECTED = ("Module path mismatch version.dll maps msimg32.dll", "Unlinked module version.dll 0x",
            "Headerless image in private memory")


class HiddenModules(SessionTest):
    def check_found(self, width):
        game_files(self.box)
        self.box.start_game(width=width, args=FIXTURES)
        self.box.start_client()
        reports = self.server.wait_events("memory_report", len(EXPECTED), timeout=60)
        self.assertEqual(len(reports), len(EXPECTED), (self.server.events("memory_report"), self.box.log_text()))
        for report, prefix in zip(reports, EXPECTED):
            self.assertTrue(report["description"].startswith(prefix), reports)
            self.assertEqual(report["hit_flag"], 1)
        self.assertTrue(self.box.wait_log("[MEMSCAN] Sent 3 suspicious memory regions", timeout=10), self.box.log_text())
        self.assertIn("[MEMSCAN] Found 3 suspicious memory regions!", self.log_lines())

    def test_32_bit_game(self):
        self.check_found(32)

    def test_64_bit_game(self):
        self.check_found(64)


if __name__ == "__main__":
    unittest.main()
