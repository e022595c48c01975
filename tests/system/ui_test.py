"""What the player sees: single instance, splash, tray icon and menu, the
wait for the game and the stop command, on the real client under Wine."""

import time
import unittest

from harness import RUN_KEY, SystemTest, wait_for

CONFIG = "server_ip=127.0.0.1\nserver_port=28961\nplayer_name=Tester\nauto_start=%d\n"
TIP = "Marvik AC v3.2 - "
BALLOON_INFO, BALLOON_ERROR = "1", "3"
NIF_INFO, NIF_SHOWTIP = 0x10, 0x80
WAITING = "[WAIT] Waiting for iw3mp.exe..."


class Splash(SystemTest):
    screen = "1920x1080"
    BACKGROUND = (25, 25, 35)

    def shown(self, label):
        """The screen if the splash shows: the background just inside each
        corner of the 350 x 280 card at (785, 400), past the rounding."""
        px = self.box.screenshot(label)
        return px if all(px(x, y) == self.BACKGROUND for x, y in [(795, 410), (1124, 410), (795, 669),
                                                                  (1124, 669), (800, 550)]) else None

    def test_card_is_centred_painted_and_goes_after_its_timer(self):
        self.box.write_config(CONFIG % 1)
        started = time.monotonic()
        self.box.start_client()
        px = wait_for(lambda: self.shown("splash"), 15, step=0.1)
        self.assertTrue(px, "the splash did not appear")
        seen = time.monotonic()
        # Outside the card on every side, and its rounded corner, are not the card.
        for x, y in [(784, 540), (1135, 540), (960, 399), (960, 680), (785, 400)]:
            self.assertNotEqual(px(x, y), self.BACKGROUND, (x, y))
        # Title, subtitle and status in their colours, in their rows; the
        # 96 x 96 icon at (127, 30) drawn.
        for colour, top, bottom in [((220, 220, 240), 140, 180), ((150, 150, 180), 180, 210),
                                    ((100, 200, 100), 230, 260)]:
            self.assertIn(colour, {px(x, y) for y in range(400 + top, 400 + bottom) for x in range(845, 1075)})
        icon = {px(x, y) for y in range(430, 526, 4) for x in range(912, 1008, 4)}
        self.assertGreater(len(icon - {self.BACKGROUND}), 10)
        def gone_by():  # when the screenshot that no longer shows it was asked for
            asked = time.monotonic()
            return None if self.shown("splash-after") else asked
        gone = wait_for(gone_by, 15)
        self.assertTrue(gone, "it stayed")
        self.assertGreater(gone - seen, 1.5)
        self.assertLess(gone - started, 3.3 + 3.0)
        self.assertTrue(self.box.client_alive())


class TrayAndMenu(SystemTest):
    def setUp(self):
        super().setUp()
        self.box.start_tray_recorder()

    def stop_client(self, within=15.0):
        self.assertNotIn("DELETE", [e["op"] for e in self.box.tray_events()])  # the icon stays till the stop
        lines = super().stop_client(within)
        self.assertTrue(self.box.wait_tray(lambda e: e["op"] == "DELETE"))
        return lines

    def test_one_session_without_autostart_then_stop(self):
        earlier = r"C:\elsewhere\marvik_ac.exe"  # left alone without autostart
        self.box.wine("reg", "add", RUN_KEY, "/v", "Marvik_AntiCheat", "/d", earlier, "/f")
        self.box.write_config(CONFIG % 0)
        self.box.start_client()
        add = self.box.wait_tray(lambda e: e["op"] == "ADD")
        self.assertEqual(add["tip"], TIP + "Starting...")
        self.assertEqual([e["op"] for e in self.box.tray_events()][:2], ["ADD", "SETVERSION"])
        self.assertTrue(self.box.wait_log(WAITING))
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"] == TIP + "Waiting for game..."))
        self.assertEqual(self.box.menu_items(), ["id=2001 grayed text=Status: Waiting for game", "separator",
                                                 "id=2002 text=Stop AntiCheat"])

        game = self.box.start_game("IW3MP.EXE")
        self.assertTrue(self.box.wait_log("[AC] Marvik AntiCheat stopped.", timeout=30), self.box.log_text())
        lines = self.box.log_lines()
        # One session only: no pause, no second wait, no session-ended balloon.
        self.assertRegex("\n".join(l for l in lines if l.startswith(("[GAME]", "[WAIT]"))),
                         r"^\[WAIT\] Waiting for iw3mp\.exe\.\.\.\n\[GAME\] Found iw3mp\.exe \(PID: [1-9]\d*\)$")
        self.assertNotIn("[AC] Game session ended. Waiting for next launch...", lines)
        detected = self.box.wait_tray(lambda e: e["info"] == "Game detected! Connecting...")
        self.assertEqual((detected["infoflags"], detected["title"]), (BALLOON_INFO, "Marvik AC"))
        self.assertGreaterEqual(self.box.wait_tray(lambda e: e["tip"] == TIP + "Connecting...")["t"], detected["t"])

        # The monitor has ended; the tray and its menu stay.
        self.assertTrue(self.box.client_alive())
        self.assertEqual(self.box.menu_items()[0], "id=2001 grayed text=Status: Connecting...")
        self.assertIsNone(game.poll())
        self.stop_client()
        # Every call keeps the tooltip showing (a version-4 icon needs
        # NIF_SHOWTIP for it), and only the balloons carry NIF_INFO.
        events = self.box.tray_events()
        self.assertEqual([e for e in events if not e["flags"] & NIF_SHOWTIP], [])
        self.assertEqual([e["info"] for e in events if e["flags"] & NIF_INFO],
                         ["Game detected! Connecting...", "Server not responding. Is marvik-ac.so loaded?"])
        self.assertEqual(self.box.run_value(), ("REG_SZ", earlier))

    def test_second_instance_then_stop_while_waiting(self):
        self.box.write_config(CONFIG % 1)
        self.box.start_client()
        self.assertTrue(self.box.wait_log(WAITING))
        before = self.box.log_text()
        second = self.box.start_client()
        out = self.box.acctl("dialog", "Marvik AC")
        self.assertIn("caption: Marvik AC", out)
        self.assertIn("Marvik AntiCheat is already running!", out)
        self.assertEqual(len([line for line in out.splitlines() if line.startswith("Button")]), 1, out)
        self.box.acctl("dismiss", "Marvik AC")
        self.assertEqual(second.wait(timeout=15), 0)
        self.assertEqual(self.box.log_text(), before)

        self.assertEqual(self.stop_client(within=2.0 + 1.5)[-2], "[ERROR] Could not find game process.")
        self.assertNotIn("Game session ended", self.box.log_text())

    def test_autostart_pauses_5_s_between_sessions(self):
        self.box.write_config(CONFIG % 1)
        self.box.start_game()
        self.box.start_client()
        detected = lambda: [e["t"] for e in self.box.tray_events() if e["info"] == "Game detected! Connecting..."]
        self.assertTrue(wait_for(lambda: len(detected()) >= 2, 50), self.box.log_text())
        ended = self.box.wait_tray(lambda e: e["info"] == "Game ended. Waiting for next launch...")
        self.assertEqual(ended["infoflags"], BALLOON_INFO)
        # No server answers, so each session ends after its handshake; the
        # game runs all along, so the next one finds it on its first poll:
        # 5000 ms pause, then the 3000 ms settle before the balloon.
        self.assertAlmostEqual(detected()[1] - ended["t"], 8000, delta=800)
        lines = self.box.log_lines()
        self.assertIn("[AC] Game session ended. Waiting for next launch...", lines)
        self.assertGreaterEqual(sum(l.startswith("[GAME] Found iw3mp.exe") for l in lines), 2)

    def test_missing_config_leaves_the_tray(self):
        # An empty file or one without a server takes the same branch (the
        # configuration tests read those).
        self.box.start_client()
        balloon = self.box.wait_tray(lambda e: e["info"] == "Config not found! Place marvik_ac.cfg next to exe.")
        self.assertEqual(balloon["infoflags"], BALLOON_ERROR)
        self.assertTrue(self.box.wait_log(r"[ERROR] No config found at C:\marvik\marvik_ac.cfg"))
        time.sleep(1)
        self.assertTrue(self.box.client_alive())
        self.assertNotIn("[INFO]", self.box.log_text())  # no server line follows
        self.assertNotIn("DELETE", [e["op"] for e in self.box.tray_events()])
        self.box.acctl("stop")
        self.assertEqual(self.box.wait_client_exit(15), 0)


if __name__ == "__main__":
    unittest.main()
