"""The installer run again by a player, page by page, over a configuration
they already have: the settings page comes up filled with it, so going
through with Enter keeps every setting, and the client it starts reaches
the server as before (here with encryption on and a Cyrillic name)."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import EXE, EXE32, ROOT, RefServer, SystemTest, wait_for

TITLE = "Marvik AC 3.2 Setup"


class RerunPage(SystemTest):
    def test_page_filled_with_the_current_settings_keeps_them(self):
        tmp = tempfile.mkdtemp(prefix="marvik-installer-")
        self.addCleanup(shutil.rmtree, tmp, True)
        subprocess.run(["makensis", "-V1", "-DVERSION=3.2", "-DVERSION_QUAD=3.2.0.0", "-DEXE=" + EXE,
                        "-DEXE32=" + EXE32, "-DOUTFILE=" + os.path.join(tmp, "s.exe"),
                        "marvik_ac.nsi"], cwd=os.path.join(ROOT, "installer"), check=True, capture_output=True)
        box = self.box
        shutil.copy(os.path.join(tmp, "s.exe"), os.path.join(box.prefix, "drive_c", "marvik_setup.exe"))
        box.env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"
        server = RefServer("--encryption", label=box.name)
        self.addCleanup(server.close)
        folder = os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Local", "Programs", "Marvik AC"))
        os.makedirs(folder)
        # As Notepad saves UTF-8: with its mark.
        with open(os.path.join(folder, "marvik_ac.cfg"), "wb") as f:
            f.write(("\ufeffserver_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=Пётр\r\nencryption=1\r\n"
                     "auto_start=0\r\n" % server.port).encode("utf-8"))
        box.start_game()
        setup = box.popen("C:\\marvik_setup.exe")
        x = dict(os.environ, DISPLAY=box.display)
        # Enter on the welcome, folder and settings pages, then on the
        # progress and finish pages until the installer ends.
        subprocess.run(["xdotool", "search", "--sync", "--name", TITLE], env=x, capture_output=True, timeout=60)
        for page in ("welcome", "folder", "settings"):
            time.sleep(3)  # the page settles
            if page == "settings":
                box.screenshot("settings-page")
            subprocess.run(["xdotool", "key", "Return"], env=x, timeout=30)
        self.assertTrue(wait_for(lambda: subprocess.run(["xdotool", "key", "Return"], env=x, timeout=30)
                                 and setup.poll() is not None, 60, step=3))
        self.assertEqual(setup.returncode, 0)
        with open(os.path.join(folder, "marvik_ac.cfg"), "rb") as f:
            self.assertEqual(f.read(), (
                "# anti-cheat client settings\r\nserver_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=Пётр\r\n"
                "auto_start=0\r\nencryption=1\r\n" % server.port).encode("utf-8"))
        hello = server.wait_events("hello", timeout=60)
        self.assertTrue(hello, server.events())
        # Code page 1252 cannot hold the name: UTF-8 on the wire.
        self.assertEqual(hello[0]["player"].encode("latin-1"), "Пётр".encode("utf-8"))
        response = server.wait_events("challenge_response")
        self.assertTrue(response and response[0]["answer_ok"], server.events())
        self.assertIsNone(box.run_value())


if __name__ == "__main__":
    unittest.main()
