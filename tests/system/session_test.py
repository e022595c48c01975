"""A whole session against the reference server: handshake, reports,
heartbeats, the end of the game, the verdict paths, and RC4 on the wire."""

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


class UnverifiedEncrypted(SessionTest):
    # The server checks the answer but sends no verdict.
    server_options = ("--encryption", "--no-verdict")
    config_text = ("server_ip=127.0.0.1\nserver_port={port}\nplayer_name=Tester\nauto_start=1\n"
                   "encryption=1\n")

    def test_goes_on_unverified_and_the_server_decrypts_every_payload_but_hello_and_challenge(self):
        game_files(self.box, guid="feedfacefeedfacefeedfacefeedface")
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[WARN] No verification response. Continuing...", timeout=40),
                        self.box.log_text())
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Active (no verify)")))
        self.assertTrue(self.server.wait_events("heartbeat", 2, timeout=30), self.box.log_text())
        self.assertIn("[AC] AntiCheat is running.", self.log_lines())
        self.assertIn("[CRYPTO] RC4 encryption enabled", self.log_lines())
        response = self.server.events("challenge_response")[0]
        self.assertTrue(response["answer_ok"])
        identity = self.server.events("identity")[0]
        self.assertEqual(identity["guid"], "feedfacefeedfacefeedfacefeedface")
        self.assertTrue(self.server.wait_events("module_list", 2, timeout=20))
        self.assertTrue(all(e["complete"] for e in self.server.events("module_list")))
        self.assertTrue(self.server.wait_events("config", timeout=20)[0]["complete"])
        self.assertEqual(self.server.events("malformed"), [])
        beat = self.server.events("heartbeat")[0]
        self.assertEqual(beat["reserved"], 0)
        self.assertLess(beat["uptime_s"], 600)


if __name__ == "__main__":
    unittest.main()
