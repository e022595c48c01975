"""A whole session against the reference server: handshake, reports,
heartbeats, the end of the game, the verdict paths, and RC4 on the wire."""

import time
import unittest

from harness import SessionTest, game_files, wait_for

NAME_40 = "N" * 40


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
        self.assertEqual((hello["player"], hello["port"], hello["version"], hello["retry"]),
                         (NAME_40[:35], srv.port, "0x203", False))
        self.assertRegex(hello["hwid"], r"^MARVIK-[0-9A-F]{8}-[0-9A-F]{8}$")
        response = srv.wait_events("challenge_response")
        self.assertTrue(response and response[0]["answer_ok"], response)
        self.assertTrue(srv.wait_events("identity"))
        # Module list and log twice at start: the baseline, then the scan thread's.
        self.assertTrue(srv.wait_events("module_list", 2, timeout=30), srv.events())
        self.assertTrue(srv.wait_events("module_log", 2, timeout=30))
        first_list = srv.events("module_list")[0]
        self.assertTrue(first_list["complete"])
        self.assertEqual(first_list["modules"][0]["name"].lower(), "iw3mp.exe")
        upload = srv.wait_events("config")
        self.assertTrue(upload, srv.events())
        self.assertEqual((upload[0]["complete"], upload[0]["size"], upload[0]["chunks"]), (True, len(config), 2))

        beats = srv.wait_events("heartbeat", 3, timeout=30)
        self.assertEqual(len(beats), 3, srv.events("heartbeat"))
        for a, b in zip(beats, beats[1:]):
            self.assertAlmostEqual(b["t_ms"] - a["t_ms"], 5000, delta=1500)
            self.assertLess(a["uptime_s"], b["uptime_s"])
        for b in beats:
            self.assertEqual((b["debugger"], b["module_alert"], b["integrity_alert"], b["reserved"], b["session"]),
                             (0, 0, 0, 0, hello["session"]))
            self.assertGreater(b["process_count"], 1)
        lines = self.box.log_lines()
        for expected in ["[AC] Successfully verified with server!", "[AC] AntiCheat is running.",
                         "[CONFIG] Player config sent (%d bytes, 2 chunks)" % len(config)]:
            self.assertIn(expected, lines)
        verified = self.box.wait_tray(lambda e: e["tip"].endswith("Verified - Active"))
        waiting = self.box.wait_tray(lambda e: e["tip"].endswith("Connecting..."))
        self.assertNotIn(verified["icon"], ("0", waiting["icon"]))

        self.box.stop_game()
        self.assertTrue(self.box.wait_log("[AC] Session ending...", timeout=10), self.box.log_text())
        self.assertTrue({"[GAME] Game has exited.", "[GAME] Game process terminated.", "[GAME] Game process ended."}
                        & set(self.box.log_lines()), self.box.log_text())
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Session ended")))
        self.assertTrue(self.box.wait_log("[AC] Game session ended. Waiting for next launch...", timeout=20))
        # The next session waits again after the pause.
        self.assertTrue(wait_for(lambda: self.box.log_text().count("[WAIT] Waiting for iw3mp.exe...") == 2, 15))
        self.stop_client()


class Rejected(SessionTest):
    server_options = ("--reject",)

    def test_rejection_ends_the_monitor_and_the_tray_stays(self):
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[AC] Rejected by server. Not retrying.", timeout=40), self.box.log_text())
        # The monitor's last line follows the rejection's a moment later.
        self.assertTrue(self.box.wait_log("[AC] Marvik AntiCheat stopped.", timeout=5), self.box.log_text())
        self.assertEqual(self.box.log_lines()[-1], "[AC] Marvik AntiCheat stopped.")
        self.assertTrue(self.box.wait_tray(lambda e: e["info"] == "Connection rejected by server!"))
        self.assertTrue(self.box.wait_tray(lambda e: e["info"] == "Rejected by server."))
        time.sleep(2)
        self.assertEqual([e for e in self.server.events() if e["event"] in ("config_chunk", "heartbeat",
                                                                            "module_list")], [])
        self.assertTrue(self.box.client_alive())
        # The tooltip and the menu say what happened and what to check.
        rejected = self.box.wait_tray(
            lambda e: e["tip"] == "Marvik AC v3.2 - Rejected - check encryption and server address")
        self.assertTrue(rejected)
        # The icon says so too: not the one of the wait.
        waiting = self.box.wait_tray(lambda e: e["tip"].endswith("Connecting..."))
        self.assertNotIn(rejected["icon"], ("0", waiting["icon"]))
        self.assertEqual(self.box.menu_items()[0], "id=2001 grayed text=Status: Rejected by server - check "
                                                   "encryption and server address")


class UnverifiedEncrypted(SessionTest):
    # The server checks the answer but sends no verdict.
    server_options = ("--encryption", "--no-verdict")
    config_text = SessionTest.config_text + "encryption=1\n"

    def test_unverified_the_server_decrypts_all_but_hello_and_challenge_then_stop_while_the_workers_run(self):
        game_files(self.box, guid="feedfacefeedfacefeedfacefeedface")
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[WARN] No verification response. Continuing...", timeout=40),
                        self.box.log_text())
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Active (no verify)")))
        self.assertTrue(self.server.wait_events("heartbeat", 2, timeout=30), self.box.log_text())
        self.assertTrue({"[AC] AntiCheat is running.", "[CRYPTO] RC4 encryption enabled"} <= set(self.box.log_lines()))
        self.assertTrue(self.server.events("challenge_response")[0]["answer_ok"])
        self.assertEqual(self.server.events("identity")[0]["guid"], "feedfacefeedfacefeedfacefeedface")
        self.assertTrue(self.server.wait_events("module_list", 2, timeout=20))
        self.assertTrue(all(e["complete"] for e in self.server.events("module_list")))
        self.assertTrue(self.server.wait_events("config", timeout=20)[0]["complete"])
        self.assertEqual(self.server.events("malformed"), [])
        beat = self.server.events("heartbeat")[0]
        self.assertEqual(beat["reserved"], 0)
        self.assertLess(beat["uptime_s"], 600)
        lines = self.stop_client(within=10.0 + 1.0)
        self.assertIn("[AC] Session ending...", lines)
        self.assertFalse([l for l in lines if l.startswith("[GAME] Game")], lines)


if __name__ == "__main__":
    unittest.main()
