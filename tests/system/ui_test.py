"""What the player sees: single instance, splash, tray icon and menu, the
wait for the game and the stop command, on the real client under Wine."""

import re
import time
import unittest

from harness import SystemTest, wait_for

CONFIG_ONE = "server_ip=127.0.0.1\nserver_port=28961\nplayer_name=Tester\nauto_start=0\n"
CONFIG_LOOP = "server_ip=127.0.0.1\nserver_port=28961\nplayer_name=Tester\nauto_start=1\n"
TIP = "Marvik AC v3.2 - "
BALLOON_INFO, BALLOON_ERROR = "1", "3"
NIF_INFO, NIF_SHOWTIP = 0x10, 0x80


def log_lines(box):
    return [re.sub(r"^\[\d\d:\d\d:\d\d\] ", "", line) for line in box.log_text().splitlines()]


class SecondInstance(SystemTest):
    def test_second_start_shows_the_message_and_writes_nothing(self):
        self.box.write_config(CONFIG_LOOP)
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[WAIT] Waiting for iw3mp.exe..."))
        before = self.box.log_text()
        second = self.box.start_second_client()
        rc, out = self.box.acctl("dialog", "Marvik AC")
        self.assertEqual(rc, 0, out)
        self.assertIn("caption: Marvik AC", out)
        self.assertIn("Marvik AntiCheat is already running!", out)
        buttons = [line for line in out.splitlines() if line.startswith("Button")]
        self.assertEqual(len(buttons), 1, out)
        self.assertEqual(self.box.acctl("dismiss", "Marvik AC")[0], 0)
        self.assertEqual(second.wait(timeout=15), 0)
        self.assertEqual(self.box.log_text(), before)
        self.assertTrue(self.box.client_alive())
        self.assertEqual(self.box.menu_items()[0], "id=2001 grayed text=Status: Waiting for game")


class Splash(SystemTest):
    screen = "1920x1080"
    BACKGROUND = (25, 25, 35)

    def splash_shown(self, shot):
        # Background just inside each corner of the 350 x 280 card at (785, 400),
        # past the rounding; outside the card, the desktop.
        inside = [(795, 410), (1124, 410), (795, 669), (1124, 669), (800, 550)]
        return all(self.box.pixel(shot, x, y) == self.BACKGROUND for x, y in inside)

    def test_card_is_centred_painted_and_goes_after_its_timer(self):
        self.box.write_config(CONFIG_LOOP)
        started = time.monotonic()
        self.box.start_client()
        shot = wait_for(lambda: (lambda s: s if self.splash_shown(s) else None)(self.box.screenshot("splash")), 15,
                        step=0.1)
        self.assertTrue(shot, "the splash did not appear")
        seen = time.monotonic()
        px = self.box.pixel
        # The card's edges: outside it on every side is not the card.
        for x, y in [(784, 540), (1135, 540), (960, 399), (960, 680)]:
            self.assertNotEqual(px(shot, x, y), self.BACKGROUND, (x, y))
        # The corners are cut round.
        self.assertNotEqual(px(shot, 785, 400), self.BACKGROUND)
        # Texts in their colours: title (220, 220, 240) in rows 140-180,
        # status (100, 200, 100) in rows 230-260, centred.
        def colours(top, bottom):
            return {px(shot, x, y) for y in range(400 + top, 400 + bottom) for x in range(785 + 60, 785 + 290)}
        self.assertIn((220, 220, 240), colours(140, 180))
        self.assertIn((100, 200, 100), colours(230, 260))
        self.assertIn((150, 150, 180), colours(180, 210))
        # The icon: not the background in its 96 x 96 square at (127, 30).
        icon = {px(shot, x, y) for y in range(430, 526, 4) for x in range(912, 1008, 4)}
        self.assertGreater(len(icon - {self.BACKGROUND}), 10)
        gone = wait_for(lambda: not self.splash_shown(self.box.screenshot("splash-after")), 15, step=0.2)
        self.assertTrue(gone, "the splash did not go")
        lifetime = time.monotonic() - started
        self.assertGreater(time.monotonic() - seen, 1.5)
        self.assertLess(lifetime, 3.3 + 3.0, "gone %.1f s after the start" % lifetime)
        self.assertTrue(self.box.client_alive())


class TrayAndMenu(SystemTest):
    def setUp(self):
        super().setUp()
        self.box.start_tray_recorder()

    def test_one_session_without_autostart_then_stop(self):
        self.box.write_config(CONFIG_ONE)
        self.box.start_client()
        add = self.box.wait_tray(lambda e: e["op"] == "ADD")
        self.assertEqual(add["tip"], TIP + "Starting...")
        ops = [e["op"] for e in self.box.tray_events()]
        self.assertEqual(ops[:2], ["ADD", "SETVERSION"])
        self.assertTrue(self.box.wait_log("[WAIT] Waiting for iw3mp.exe..."))
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"] == TIP + "Waiting for game..."))
        self.assertEqual(self.box.menu_items(),
                         ["id=2001 grayed text=Status: Waiting for game", "separator",
                          "id=2002 text=Stop AntiCheat"])

        game = self.box.start_game("IW3MP.EXE")
        self.assertTrue(self.box.wait_log("[AC] Marvik AntiCheat stopped.", timeout=30), self.box.log_text())
        lines = log_lines(self.box)
        found = [l for l in lines if l.startswith("[GAME]")]
        self.assertEqual(len(found), 1, lines)
        self.assertRegex(found[0], r"^\[GAME\] Found iw3mp\.exe \(PID: [1-9]\d*\)$")
        # One session only: no pause, no second wait, no session-ended balloon.
        self.assertEqual(sum(l.startswith("[WAIT]") for l in lines), 1, lines)
        self.assertNotIn("[AC] Game session ended. Waiting for next launch...", lines)
        detected = self.box.wait_tray(lambda e: e["info"] == "Game detected! Connecting...")
        self.assertEqual(detected["infoflags"], BALLOON_INFO)
        self.assertEqual(detected["title"], "Marvik AC")
        connecting = self.box.wait_tray(lambda e: e["tip"] == TIP + "Connecting...")
        self.assertGreaterEqual(connecting["t"], detected["t"])
        self.assertFalse(any(e["info"].startswith("Game ended") for e in self.box.tray_events()))

        # The monitor has ended; the tray and its menu stay.
        self.assertTrue(self.box.client_alive())
        self.assertEqual(self.box.menu_items()[0], "id=2001 grayed text=Status: Connecting...")
        self.assertIsNone(game.poll())

        asked = self.box.tray_events()[-1]["t"]
        rc, out = self.box.acctl("stop")
        self.assertEqual(rc, 0, out)
        delete = self.box.wait_tray(lambda e: e["op"] == "DELETE", timeout=10)
        self.assertTrue(delete)
        self.assertEqual(self.box.wait_client_exit(15), 0)
        self.assertTrue(log_lines(self.box)[-1] == "[AC] Marvik AntiCheat stopped.", self.box.log_text())
        self.assertGreaterEqual(delete["t"], asked)
        # Every call keeps the tooltip showing (a version-4 icon needs
        # NIF_SHOWTIP for it), and only the balloons carry NIF_INFO.
        events = self.box.tray_events()
        self.assertEqual([e for e in events if not e["flags"] & NIF_SHOWTIP], [])
        self.assertEqual([e["info"] for e in events if e["flags"] & NIF_INFO],
                         ["Game detected! Connecting...", "Server not responding. Is marvik-ac.so loaded?"])

    def test_stop_while_waiting_for_the_game(self):
        self.box.write_config(CONFIG_LOOP)
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[WAIT] Waiting for iw3mp.exe..."))
        time.sleep(0.5)
        stopped_at = time.monotonic()
        self.assertEqual(self.box.acctl("stop")[0], 0)
        self.assertTrue(self.box.wait_tray(lambda e: e["op"] == "DELETE", timeout=5))
        self.assertEqual(self.box.wait_client_exit(10), 0)
        took = time.monotonic() - stopped_at
        self.assertLess(took, 2.0 + 1.5)
        lines = log_lines(self.box)
        self.assertEqual(lines[-2:], ["[ERROR] Could not find game process.", "[AC] Marvik AntiCheat stopped."])
        self.assertFalse(any("Game session ended" in l for l in lines))

    def test_autostart_pauses_5_s_between_sessions(self):
        self.box.write_config(CONFIG_LOOP)
        self.box.start_game()
        self.box.start_client()
        second = lambda: [e for e in self.box.tray_events() if e["info"] == "Game detected! Connecting..."][1:]
        self.assertTrue(wait_for(second, 50), self.box.log_text())
        events = self.box.tray_events()
        detected = [e["t"] for e in events if e["info"] == "Game detected! Connecting..."]
        ended = next(e for e in events if e["info"] == "Game ended. Waiting for next launch...")
        self.assertEqual(ended["infoflags"], BALLOON_INFO)
        # No server answers, so each session ends after its handshake; the
        # game runs all along, so the next one finds it on its first poll:
        # 5000 ms pause, then the 3000 ms settle before the balloon.
        self.assertAlmostEqual(detected[1] - ended["t"], 8000, delta=800)
        lines = log_lines(self.box)
        self.assertIn("[AC] Game session ended. Waiting for next launch...", lines)
        self.assertGreaterEqual(sum(l.startswith("[GAME] Found iw3mp.exe") for l in lines), 2)

    def test_missing_and_empty_config_leave_the_tray(self):
        line = r"[ERROR] No config found at C:\marvik\marvik_ac.cfg"
        for runs, config in enumerate((None, ""), start=1):
            with self.subTest(config=config):
                if config is not None:
                    self.box.write_config(config)
                seen = len(self.box.tray_events())
                self.box.start_client()
                balloon = wait_for(lambda: next((e for e in self.box.tray_events()[seen:]
                                                 if e["info"].startswith("Config not found")), None), 20)
                self.assertTrue(balloon, self.box.tray_events())
                self.assertEqual(balloon["info"], "Config not found! Place marvik_ac.cfg next to exe.")
                self.assertEqual(balloon["infoflags"], BALLOON_ERROR)
                self.assertTrue(wait_for(lambda: self.box.log_text().count(line) == runs, 20))
                time.sleep(1)
                self.assertTrue(self.box.client_alive())
                self.assertNotIn("[INFO]", self.box.log_text())  # no server line follows
                self.assertNotIn("DELETE", [e["op"] for e in self.box.tray_events()[seen:]])
                self.assertEqual(self.box.acctl("stop")[0], 0)
                self.assertEqual(self.box.wait_client_exit(15), 0)
                self.box.procs.clear()


if __name__ == "__main__":
    unittest.main()
