"""A whole session against the reference server, RC4 on the wire: hello,
challenge and verdict, reports, heartbeats, the end of the game and the
next wait. Each handshake path's own log lines and timing are the native
handshake tests'; a rejection as the player sees it is the tray's test."""

import unittest

from harness import SessionTest, game_files, wait_for

NAME_40 = "N" * 40


class EncryptedSession(SessionTest):
    server_options = ("--encryption",)
    config_text = ("server_ip=127.0.0.1\nserver_port={port}\nplayer_name=" + NAME_40 +
                   "\nauto_start=1\nencryption=1\n")

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
        response = srv.wait_events("challenge_response")
        self.assertTrue(response and response[0]["answer_ok"], response)
        # Module list twice at start: the baseline, then the scan thread's.
        self.assertTrue(srv.wait_events("module_list", 2, timeout=30), srv.events())
        self.assertEqual(srv.events("module_list")[0]["modules"][0]["name"].lower(), "iw3mp.exe")
        upload = srv.wait_events("config")
        self.assertTrue(upload, srv.events())
        self.assertEqual((upload[0]["complete"], upload[0]["size"], upload[0]["chunks"]), (True, len(config), 2))

        beats = srv.wait_events("heartbeat", 3, timeout=30)
        self.assertEqual(len(beats), 3, srv.events("heartbeat"))
        for a, b in zip(beats, beats[1:]):
            self.assertAlmostEqual(b["t_ms"] - a["t_ms"], 5000, delta=1500)
        self.assertEqual({b["session"] for b in beats}, {hello["session"]})
        self.assertEqual(srv.events("malformed"), [])  # every packet past the challenge decrypted
        self.assertTrue({"[CRYPTO] RC4 encryption enabled", "[AC] Successfully verified with server!",
                         "[AC] AntiCheat is running."} <= set(self.box.log_lines()))
        verified = self.box.wait_tray(lambda e: e["tip"].endswith("Verified - Active"))
        waiting = self.box.wait_tray(lambda e: e["tip"].endswith("Connecting..."))
        self.assertNotIn(verified["icon"], ("0", waiting["icon"]))

        self.box.stop_game()
        self.assertTrue(self.box.wait_log("[AC] Session ending...", timeout=10), self.box.log_text())
        self.assertTrue({"[GAME] Game has exited.", "[GAME] Game process terminated.", "[GAME] Game process ended."}
                        & set(self.box.log_lines()), self.box.log_text())
        self.assertTrue(self.box.wait_tray(lambda e: e["tip"].endswith("Session ended")))
        # The next session waits again after the pause.
        self.assertTrue(wait_for(lambda: self.box.log_text().count("[WAIT] Waiting for iw3mp.exe...") == 2, 30))
        self.stop_client()


if __name__ == "__main__":
    unittest.main()
