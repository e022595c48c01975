"""Start-up of the real client: configuration, log file and Run value."""

import os
import time
import unittest

from harness import TOOLS, SystemTest

CONFIG = "server_ip=127.0.0.1\r\nserver_port=28961\r\nplayer_name=Tester\r\nauto_start=1\r\n"


class Startup(SystemTest):
    def test_reads_config_logs_server_and_writes_run_value(self):
        self.box.write_config(CONFIG)
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[WAIT] Waiting for iw3mp.exe..."), self.box.log_text())
        raw = self.box.log_text()
        # Text mode: CR LF on disk, one line per event, in this order.
        self.assertRegex(raw, r"^\[\d\d:\d\d:\d\d\] \[INFO\] Server: 127\.0\.0\.1:28961, Player: Tester\r\n"
                              r"\[\d\d:\d\d:\d\d\] \[HWID\] Hardware ID: MARVIK-[0-9A-F]{8}-[0-9A-F]{8}\r\n"
                              r"\[\d\d:\d\d:\d\d\] \[WAIT\] Waiting for iw3mp\.exe\.\.\.\r\n$")
        self.assertEqual(self.box.run_value(), ("REG_SZ", r'"C:\marvik\marvik_ac.exe"'))


class LongPath(SystemTest):
    # C:\ + 120 + \ + 140 + \marvik_ac.exe: 278 characters, past the 260 limit.
    folder = "a" * 120 + "/" + "b" * 140

    def test_no_file_beside_a_cut_path_and_no_run_value(self):
        self.box.write_config(CONFIG)
        self.box.start_client()
        time.sleep(6)
        self.assertTrue(self.box.client_alive(), "the client must not crash on a long path")
        names = {name for _, _, files in os.walk(os.path.join(self.box.prefix, "drive_c", "a" * 120)) for name in files}
        self.assertEqual(names - set(TOOLS), {"marvik_ac.exe", "marvik_ac.cfg"})
        self.assertIsNone(self.box.run_value())


if __name__ == "__main__":
    unittest.main()
