"""What the player sees: single instance, splash, tray icon and menu, the wait for the game, a rejection and the
stop command."""

import os
import subprocess
import time

from harness import (HOLD_EXE, NIF_INFO, NIF_SHOWTIP, NIIF_ERROR, NIIF_INFO, RUN_KEY, STOPPED, TOOLS, SessionTest,
                     read_text, wait_for)

TIP = "Marvik AC v3.2 - "


class SplashFromALongPath(SessionTest):
    screen = "1920x1080"
    # C:\ + 120 + \ + 140 + \marvik_ac.exe: 278 characters, past 260: the configuration beside it has no name.
    folder = "a" * 120 + "/" + "b" * 140
    BACKGROUND = (25, 25, 35)

    def shown(self):
        """The screen as (x, y) -> rgb if the splash shows: the background inside each corner of the 350 x 280 card
        at (785, 400)."""
        ppm = subprocess.run(["import", "-display", self.box.display, "-window", "root", "-depth", "8", "ppm:-"],
                             capture_output=True, timeout=30).stdout
        width, height = (int(v) for v in ppm.split(maxsplit=3)[1:3])  # P6 <width> <height> 255
        pixels = ppm[len(ppm) - width * height * 3:]
        px = lambda x, y: tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3])
        return px if all(px(x, y) == self.BACKGROUND for x, y in [(795, 410), (1124, 410), (795, 669),
                                                                  (1124, 669), (800, 550)]) else None

    def test_card_then_config_not_found_and_no_file_beside_a_cut_path(self):
        started = time.monotonic()
        self.box.start_client()
        px = wait_for(lambda: self.shown(), 15, step=0.1)
        self.assertTrue(px, "the splash did not appear")
        seen = time.monotonic()
        # Title, subtitle and status in their colours and rows; the 96 x 96 icon at (127, 30) drawn.
        for colour, top, bottom in [((220, 220, 240), 140, 180), ((150, 150, 180), 180, 210),
                                    ((100, 200, 100), 230, 260)]:
            self.assertIn(colour, {px(x, y) for y in range(400 + top, 400 + bottom) for x in range(845, 1075)})
        icon = {px(x, y) for y in range(430, 526, 4) for x in range(912, 1008, 4)}
        self.assertGreater(len(icon - {self.BACKGROUND}), 10)
        def gone_by():  # when the screenshot that no longer shows it was asked for
            asked = time.monotonic()
            return None if self.shown() else asked
        gone = wait_for(gone_by, 15)
        self.assertTrue(gone, "it stayed")
        self.assertGreater(gone - seen, 1.5)
        self.assertLess(gone - started, 3.3 + 3.0)

        balloon = self.box.wait_tray(lambda e: e["info"] == "Config not found! Place marvik_ac.cfg next to exe.")
        self.assertEqual(balloon["infoflags"], NIIF_ERROR)
        self.assertIsNone(self.box.procs[0].poll())  # the tray stays; nothing written beside a cut path
        self.assertNotIn("DELETE", [e["op"] for e in self.box.tray_events()])
        names = {name for _, _, files in os.walk(os.path.join(self.box.prefix, "drive_c", "a" * 120)) for name in files}
        self.assertEqual(names - set(TOOLS), {"marvik_ac.exe", "marvik_ac.cfg", "tray.txt"})
        self.assertIsNone(self.box.run_value())


class TrayAndMenu(SessionTest):
    exe = HOLD_EXE  # the second test holds its monitor past the shutdown
    server_options = ("--reject",)

    def test_one_rejected_session_without_autostart_then_stop(self):
        earlier = r"C:\elsewhere\marvik_ac.exe"  # left alone without autostart
        self.box.wine("reg", "add", RUN_KEY, "/v", "Marvik_AntiCheat", "/d", earlier, "/f")
        self.box.write_config(self.config_text.format(port=self.server.port).replace("auto_start=1", "auto_start=0"))
        self.box.start_client()
        self.assertTrue(self.box.wait_tray(lambda e: e["op"] == "ADD" and e["tip"] == TIP + "Starting..."))
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"] == TIP + "Waiting for game..."))
        self.assertEqual(self.box.menu_items(), ["id=2001 grayed text=Status: Waiting for game", "separator",
                                                 "id=2002 text=Stop AntiCheat"])

        self.box.start_game("IW3MP.EXE")
        self.assert_log(STOPPED, timeout=30)
        # One session only: no pause, no second wait (and below, no session-ended balloon).
        self.assertRegex("\n".join(l for l in self.box.log_lines() if l.startswith(("[GAME]", "[WAIT]"))),
                         r"^\[WAIT\] Waiting for iw3mp\.exe\.\.\.\n\[GAME\] Found iw3mp\.exe \(PID: [1-9]\d*\)$")
        detected = self.box.wait_tray(lambda e: e["info"] == "Game detected! Connecting...")
        self.assertEqual(detected["infoflags"], NIIF_INFO)
        waiting = self.box.wait_tray(lambda e: e["tip"] == TIP + "Connecting...")
        rejected = self.box.wait_tray(lambda e: e["tip"] == TIP + "Rejected - check encryption and server address")
        self.assertNotIn(rejected["icon"], ("", waiting["icon"]))
        self.assertEqual(self.box.menu_items()[0], "id=2001 grayed text=Status: Rejected by server - check "
                                                   "encryption and server address")
        self.assertIsNone(self.box.games[0][0].poll())  # the game plays on
        self.assertNotIn("DELETE", [e["op"] for e in self.box.tray_events()])  # the monitor has ended, not the tray
        self.stop_client()
        self.assertTrue(self.box.wait_tray(lambda e: e["op"] == "DELETE"))
        # Every call keeps the tooltip showing (a version-4 icon needs NIF_SHOWTIP); only balloons carry NIF_INFO.
        events = self.box.tray_events()
        self.assertEqual([e for e in events if not e["flags"] & NIF_SHOWTIP], [])
        self.assertEqual([e["info"] for e in events if e["flags"] & NIF_INFO],
                         ["Game detected! Connecting...", "Connection rejected by server!"])
        self.assertEqual(self.box.run_value(), earlier)

    def test_start_lines_second_instance_and_a_stop_while_the_monitor_hangs(self):
        # The monitor, once stopped, stalls 40 s holding the shared state, past the 1.5 s the UI thread waits.
        self.box.start_client(MARVIK_TEST_HOLD="monitor=40000")
        self.assert_log("[WAIT] Waiting for iw3mp.exe...")
        # Text mode: CR LF on disk.
        self.assertRegex(self.box.log_text(), r"\] \[INFO\] Server: 127\.0\.0\.1:%d, Player: Tester\r\n.*"
                         r"\] \[HWID\] Hardware ID: MARVIK-[0-9A-F]{8}-[0-9A-F]{8}\r\n" % self.server.port)
        before = self.box.log_text()
        second = self.box.start_client()
        out = self.box.acctl("dialog", "Marvik AC")
        self.assertIn("Marvik AntiCheat is already running!", out)
        self.box.acctl("dismiss", "Marvik AC")
        self.assertEqual(second.wait(timeout=15), 0)
        self.assertEqual(self.box.log_text(), before)

        # The wait ends at once; the process ends 1.5 s later with the monitor still held, without destroying the
        # statics under it (the hook's "exit" note); the shutdown writes the last line in its place, once.
        held = lambda: [line.split()[2] for line in read_text(self.box.path("marvik_hold.txt")).splitlines()]
        asked = time.monotonic()
        self.box.acctl("stop")
        self.assertEqual(self.box.procs[0].wait(15), 0)
        took = time.monotonic() - asked
        self.assertTrue(1.5 < took < 1.5 + 4.0, took)
        self.assertEqual(held(), ["held"])
        lines = self.box.log_lines()
        self.assertEqual(lines[-2:], ["[ERROR] Could not find game process.", STOPPED])
        self.assertEqual(lines.count(STOPPED), 1)
        self.assertNotIn("Game session ended", self.box.log_text())

