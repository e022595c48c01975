"""Start-up of the real client: configuration, log file and Run value."""

import os
import time
import unittest

from harness import TOOLS, SystemTest, WineBox, wait_for

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
        value = self.box.run_value()
        self.assertEqual(value, ("REG_SZ", r"C:\marvik\marvik_ac.exe"))

    def test_autostart_off_leaves_an_earlier_value_alone(self):
        self.box.set_run_value(r"C:\elsewhere\marvik_ac.exe")
        self.box.write_config("server_ip=10.0.0.9\nauto_start=0\n")
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[INFO] Server: 10.0.0.9:28960, Player: "))
        self.assertEqual(self.box.run_value(), ("REG_SZ", r"C:\elsewhere\marvik_ac.exe"))

    def test_autostart_word_true_counts_as_off(self):
        self.box.write_config("server_ip=10.0.0.9\nauto_start=true\n")
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[INFO] Server: 10.0.0.9:28960"))
        self.assertIsNone(self.box.run_value())

    def test_missing_config_is_logged_with_its_path(self):
        self.box.start_client()
        self.assertTrue(self.box.wait_log(r"[ERROR] No config found at C:\marvik\marvik_ac.cfg"),
                        self.box.log_text())
        # The program stays in the tray; no server line follows.
        time.sleep(1)
        self.assertTrue(self.box.client_alive())
        self.assertNotIn("[INFO]", self.box.log_text())

    def test_config_without_server_is_treated_as_missing(self):
        self.box.write_config("# nothing but a comment\nserver_ip=\nplayer_name=A\n")
        self.box.start_client()
        self.assertTrue(self.box.wait_log(r"[ERROR] No config found at C:\marvik\marvik_ac.cfg"))

    def test_existing_log_is_appended_to(self):
        with open(self.box.path("marvik_ac.log"), "wb") as f:
            f.write(b"[01:02:03] [AC] from an earlier run\r\n")
        self.box.write_config(CONFIG)
        self.box.start_client()
        self.assertTrue(self.box.wait_log("[INFO] Server:"))
        self.assertTrue(self.box.log_text().startswith("[01:02:03] [AC] from an earlier run\r\n"))


class LongPath(SystemTest):
    # C:\ + 120 + \ + 140 + \marvik_ac.exe: 278 characters, past the 260 limit.
    folder = "a" * 120 + "/" + "b" * 140

    def test_no_file_beside_a_cut_path_and_no_run_value(self):
        self.box.write_config(CONFIG)
        self.box.start_client()
        time.sleep(6)
        self.assertTrue(self.box.client_alive(), "the client must not crash on a long path")
        names = set()
        for _, dirs, files in os.walk(os.path.join(self.box.prefix, "drive_c", "a" * 120)):
            names.update(files)
        self.assertEqual(names - set(TOOLS), {"marvik_ac.exe", "marvik_ac.cfg"})
        self.assertIsNone(self.box.run_value())


if __name__ == "__main__":
    unittest.main()
