"""A whole session against the reference server: handshake, reports,
heartbeats, the end of the game, and the verdict paths."""

import os
import time
import unittest

from harness import SessionTest, wait_for

NAME_40 = "N" * 40


def game_files(box, guid="0123456789abcdef0123456789abcdef", config=b"seta name \"Tester\"\n" * 50,
               profile="Tester"):
    """The stand-in game's folder C:\\game with guid.dat and a profile config."""
    game = os.path.join(box.prefix, "drive_c", "game")
    os.makedirs(os.path.join(game, "players", "profiles", profile), exist_ok=True)
    if guid is not None:
        with open(os.path.join(game, "players", "guid.dat"), "w", newline="") as f:
            f.write(guid + "\r\n")
    if config is not None:
        with open(os.path.join(game, "players", "profiles", profile, "config_mp.cfg"), "wb") as f:
            f.write(config)
    return game


class NormalSession(SessionTest):
    config_text = "server_ip=127.0.0.1\nserver_port={port}\nplayer_name=" + NAME_40 + "\nauto_start=1\n"

    def test_from_game_found_to_game_gone_and_the_next_wait(self):
        config = b"// config\r\n" + b"x" * 1000
        game_files(self.box, config=config, profile=NAME_40[:35])
        self.box.start_game()
        self.box.start_client()
        srv = self.server
        hello = srv.wait_events("hello", timeout=40)
        self.assertTrue(hello, self.box.log_text())
        hello = hello[0]
        self.assertEqual(hello["player"], NAME_40[:35])
        self.assertEqual(hello["port"], srv.port)
        self.assertEqual(hello["version"], "0x203")
        self.assertRegex(hello["hwid"], r"^MARVIK-[0-9A-F]{8}-[0-9A-F]{8}$")
        self.assertFalse(hello["retry"])

        response = srv.wait_events("challenge_response")
        self.assertTrue(response and response[0]["answer_ok"], response)
        self.assertTrue(srv.wait_events("identity"))
        # Module list and log twice at start: the baseline, then the scan thread's.
        self.assertTrue(srv.wait_events("module_list", 2, timeout=30), srv.events())
        self.assertTrue(srv.wait_events("module_log", 2, timeout=30))
        first_list = srv.events("module_list")[0]
        self.assertTrue(first_list["complete"])
        self.assertTrue(first_list["modules"][0]["name"].lower() == "iw3mp.exe", first_list["modules"][0])
        upload = srv.wait_events("config")
        self.assertTrue(upload and upload[0]["complete"], upload)
        self.assertEqual(upload[0]["size"], len(config))
        self.assertEqual(upload[0]["chunks"], 2)

        beats = srv.wait_events("heartbeat", 3, timeout=30)
        self.assertEqual(len(beats), 3, srv.events("heartbeat"))
        gaps = [b["t_ms"] - a["t_ms"] for a, b in zip(beats, beats[1:])]
        for gap in gaps:
            self.assertAlmostEqual(gap, 5000, delta=1500)
        self.assertLess(beats[0]["uptime_s"], beats[2]["uptime_s"])
        for b in beats:
            self.assertEqual((b["debugger"], b["module_alert"], b["integrity_alert"], b["reserved"]), (0, 0, 0, 0))
            self.assertEqual(b["session"], hello["session"])
            self.assertGreater(b["process_count"], 1)
        lines = self.log_lines()
        for expected in ["[AC] Successfully verified with server!", "[AC] AntiCheat is running.",
                         "[CONFIG] Player config sent (%d bytes, 2 chunks)" % len(config)]:
            self.assertIn(expected, lines)
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Verified - Active")))

        self.box.stop_game()
        self.assertTrue(self.box.wait_log("[AC] Session ending...", timeout=10), self.box.log_text())
        lines = self.log_lines()
        self.assertTrue("[GAME] Game has exited." in lines or "[GAME] Game process terminated." in lines
                        or "[GAME] Game process ended." in lines, lines)
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Session ended")))
        self.assertTrue(self.box.wait_log("[AC] Game session ended. Waiting for next launch...", timeout=20))
        # The next session waits again after the pause.
        self.assertTrue(wait_for(lambda: self.box.log_text().count("[WAIT] Waiting for iw3mp.exe...") == 2, 15))
        self.assertEqual(self.box.acctl("stop")[0], 0)
        self.assertEqual(self.box.wait_client_exit(15), 0)
        self.assertEqual(self.log_lines()[-1], "[AC] Marvik AntiCheat stopped.")


class SilentServer(SessionTest):
    server_options = ("--silent",)

    def test_two_hellos_then_not_responding_and_a_new_attempt(self):
        game_files(self.box)
        self.box.start_game()
        self.box.start_client()
        hellos = self.server.wait_events("hello", 2, timeout=60)
        self.assertEqual(len(hellos), 2, self.box.log_text())
        self.assertAlmostEqual(hellos[1]["t_ms"] - hellos[0]["t_ms"], 10000, delta=1500)
        self.assertEqual(hellos[0]["session"], hellos[1]["session"])
        self.assertTrue(self.box.wait_log("[ERROR] Server not responding.", timeout=20))
        balloon = self.box.wait_tray(lambda e: e["info"] == "Server not responding. Is marvik-ac.so loaded?")
        self.assertEqual(balloon["infoflags"], "2")
        # The gap from the first hello to the give-up, on the tray's clock.
        self.assertIn("[WARN] No challenge, retrying...", self.log_lines())
        third = self.server.wait_events("hello", 3, timeout=40)
        self.assertEqual(len(third), 3)
        self.assertAlmostEqual(third[2]["t_ms"] - hellos[1]["t_ms"], 5000 + 5000 + 3000, delta=2500)
        self.assertNotEqual(third[2]["session"], hellos[0]["session"])


class ChallengeThenSilence(SessionTest):
    server_options = ("--no-verdict",)

    def test_goes_on_unverified_with_heartbeats(self):
        game_files(self.box)
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[WARN] No verification response. Continuing...", timeout=40),
                        self.box.log_text())
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Active (no verify)")))
        self.assertEqual(len(self.server.wait_events("heartbeat", 2, timeout=20)), 2)
        self.assertIn("[AC] AntiCheat is running.", self.log_lines())


class Rejected(SessionTest):
    server_options = ("--reject",)

    def test_rejection_ends_the_monitor_and_the_tray_stays(self):
        game_files(self.box)
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[AC] Rejected by server. Not retrying.", timeout=40), self.box.log_text())
        lines = self.log_lines()
        self.assertIn("[AC] Server rejected connection.", lines)
        self.assertEqual(lines[-1], "[AC] Marvik AntiCheat stopped.")
        self.assertTrue(self.box.wait_tray(lambda e: e["info"] == "Connection rejected by server!"))
        self.assertTrue(self.box.wait_tray(lambda e: e["info"] == "Rejected by server."))
        time.sleep(2)
        self.assertEqual(self.server.events("config_chunk"), [])
        self.assertEqual(self.server.events("heartbeat"), [])
        self.assertEqual(self.server.events("module_list"), [])
        self.assertTrue(self.box.client_alive())
        self.assertEqual(self.box.menu_items()[0], "id=2001 grayed text=Status: Connecting...")


class KickedWhileRunning(SessionTest):
    server_options = ("--kick-after", "4")

    def test_kick_tears_down_and_the_next_session_finds_the_game(self):
        game_files(self.box)
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[AC] Server kicked us!", timeout=60), self.box.log_text())
        kicked = time.monotonic()
        self.assertTrue(self.box.wait_log("[AC] Session ending...", timeout=6))
        self.assertLess(time.monotonic() - kicked, 4.5)
        balloon = self.box.wait_tray(lambda e: e["info"] == "Kicked by server!")
        self.assertEqual(balloon["infoflags"], "3")
        # The game still runs: the next session finds it and says hello again.
        self.assertTrue(wait_for(lambda: self.box.log_text().count("[GAME] Found iw3mp.exe") == 2, 30),
                        self.box.log_text())
        hellos = self.server.wait_events("hello", 2, timeout=30)
        self.assertEqual(len(hellos), 2)
        self.assertNotEqual(hellos[0]["session"], hellos[1]["session"])
        # Nothing of the old session after the new one began.
        start = hellos[1]["t_ms"]
        old = [e for e in self.server.events() if e.get("session") == hellos[0]["session"] and e["t_ms"] > start
               and e["event"] not in ("sent",)]
        self.assertEqual(old, [])


if __name__ == "__main__":
    unittest.main()
