"""Server commands in a running session, datagrams that must be ignored,
and RC4 on the wire."""

import socket
import struct
import time
import unittest

from harness import SessionTest, wait_for
from session_test import game_files


def datagram(type_, session, payload=b"", magic=0x4D414300):
    return struct.pack("<IBBHI", magic, 1, type_, len(payload), session) + payload


class Commands(SessionTest):
    server_options = ("--screenshot-after", "3", "--update-after", "5")

    def test_commands_are_logged_once_and_strays_are_ignored(self):
        game_files(self.box)
        self.box.start_game()
        self.box.start_client()
        hello = self.server.wait_events("hello", timeout=40)
        self.assertTrue(hello, self.box.log_text())
        host, port = hello[0]["from"].rsplit(":", 1)
        session = int(hello[0]["session"], 16)
        self.assertTrue(self.box.wait_log("[UPDATE] Update available from server", timeout=30), self.box.log_text())
        self.assertTrue(self.box.wait_log("[SCREENSHOT] Server requested screenshot", timeout=5))

        # A kick from another host, an unknown type and a wrong magic: all ignored.
        spoofer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        spoofer.bind(("127.0.0.2", 0))
        spoofer.sendto(datagram(10, session), ("127.0.0.1", int(port)))
        spoofer.close()
        local = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        local.sendto(datagram(99, session, b"x" * 8), ("127.0.0.1", int(port)))
        local.sendto(datagram(10, session, magic=0x12345678), ("127.0.0.1", int(port)))
        # A screenshot request from the server's host but another port counts.
        local.sendto(datagram(15, session), ("127.0.0.1", int(port)))
        local.close()
        self.assertTrue(wait_for(lambda: self.box.log_text().count("[SCREENSHOT]") == 2, 10))
        before = len(self.server.events("heartbeat"))
        self.assertTrue(self.server.wait_events("heartbeat", before + 2, timeout=20))
        lines = self.log_lines()
        self.assertNotIn("[AC] Server kicked us!", lines)
        self.assertNotIn("[AC] Session ending...", lines)
        self.assertEqual(sum(l.startswith("[UPDATE]") for l in lines), 1)
        self.assertTrue(self.box.client_alive())


class Encrypted(SessionTest):
    server_options = ("--encryption",)
    config_text = ("server_ip=127.0.0.1\nserver_port={port}\nplayer_name=Tester\nauto_start=1\n"
                   "encryption=1\n")

    def test_the_server_decrypts_every_payload_but_hello_and_challenge(self):
        game_files(self.box, guid="feedfacefeedfacefeedfacefeedface")
        self.box.start_game()
        self.box.start_client()
        self.assertTrue(self.server.wait_events("heartbeat", 2, timeout=60), self.box.log_text())
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


class EncryptionMismatch(SessionTest):
    # The client sends in clear; a server that expects RC4 cannot read it.
    server_options = ("--encryption",)

    def test_a_clear_client_is_unreadable_to_an_encrypting_server(self):
        game_files(self.box)
        self.box.start_game()
        self.box.start_client()
        response = self.server.wait_events("challenge_response", timeout=40)
        self.assertTrue(response, self.box.log_text())
        self.assertFalse(response[0]["answer_ok"])


if __name__ == "__main__":
    unittest.main()
