"""The release as a player gets it: the signed installer and zip made by
tools/release.sh with a throwaway certificate, then one player's whole
story under Wine: a silent install with switches, a session against the
reference server, an update installed over the running client, and a silent
uninstall."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from harness import EXE, EXE32, ROOT, RefServer, SystemTest, WineBox, wait_for

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marvik AC"
PASSWORD = "throwaway-pass"


class Release(SystemTest):
    def verify(self, path):
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path], capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, path + ": " + r.stdout + r.stderr)

    def run_silent(self, windows_path, *switches, box=None):
        # The installer starts the client, which must not hold our pipes.
        box = box or self.box
        return subprocess.run([box.loader, windows_path, "/S", *switches], env=box.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120).returncode

    def make_release(self):
        """The signed release of the tested builds: (a scratch folder, its dist folder)."""
        tmp = tempfile.mkdtemp(prefix="marvik-release-")
        self.addCleanup(shutil.rmtree, tmp, True)
        self.cert, key, dist = (os.path.join(tmp, n) for n in ("cert.pem", "key.pem", "dist"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2", "-keyout", key,
                        "-out", self.cert, "-subj", "/CN=Marvik AC throwaway signer",
                        "-addext", "extendedKeyUsage=codeSigning", "-passout", "pass:" + PASSWORD],
                       check=True, capture_output=True)
        env = dict(os.environ, MARVIK_SIGN_CERT=self.cert, MARVIK_SIGN_KEY=key, MARVIK_SIGN_PASSWORD=PASSWORD)
        env.pop("MARVIK_SIGN_TIMESTAMP", None)
        subprocess.run([os.path.join(ROOT, "tools", "release.sh"), "--exe", EXE,
                        "--exe32", EXE32, "--out", dist],
                       env=env, check=True, capture_output=True)
        return tmp, dist

    def test_32bit_windows_gets_the_32bit_client(self):
        _, dist = self.make_release()
        box = WineBox("marvik", name=self.box.name + "-32", windows_bits=32)
        self.addCleanup(box.close)
        server = RefServer(label=box.name)
        self.addCleanup(server.close)
        shutil.copy(os.path.join(dist, next(n for n in os.listdir(dist) if n.endswith("-setup.exe"))),
                    os.path.join(box.prefix, "drive_c", "setup.exe"))
        box.env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"
        box.start_game(width=32)
        self.assertEqual(self.run_silent("C:\\setup.exe", "/SERVER=127.0.0.1", "/PORT=%d" % server.port,
                                         "/PLAYER=Narrow", box=box), 0)
        folder = os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Local", "Programs", "Marvik AC"))
        with open(os.path.join(folder, "marvik_ac.exe"), "rb") as f:
            self.assertIn(b"PE\0\0\x4c\x01", f.read(1024))  # i386
        hello = server.wait_events("hello", timeout=60)
        self.assertTrue(hello, server.events())
        self.assertEqual(hello[0]["player"], "Narrow")
        modules = server.wait_events("module_list", timeout=30)
        self.assertTrue(modules, server.events())
        self.assertEqual(modules[0]["modules"][0]["name"].lower(), "iw3mp.exe")

    def test_signed_files_silent_install_session_update_over_running_client_and_uninstall(self):
        tmp, dist = self.make_release()
        setup = os.path.join(dist, next(n for n in os.listdir(dist) if n.endswith("-setup.exe")))
        self.verify(setup)
        with zipfile.ZipFile(os.path.join(dist, next(n for n in os.listdir(dist) if n.endswith("-portable.zip")))) as z:
            self.assertEqual(sorted(z.namelist()), ["32-bit/marvik_ac.cfg.example", "32-bit/marvik_ac.exe",
                                                    "64-bit/marvik_ac.cfg.example", "64-bit/marvik_ac.exe",
                                                    "README.txt"])
            self.assertIn(b"64-bit on 64-bit Windows, the folder 32-bit on\r\n32-bit Windows", z.read("README.txt"))
            for width, machine in (("64", b"PE\0\0\x64\x86"), ("32", b"PE\0\0\x4c\x01")):
                exe = z.read(width + "-bit/marvik_ac.exe")
                self.assertIn(machine, exe[:1024], width)
                self.verify(z.extract(width + "-bit/marvik_ac.exe", tmp))
        sizes = {n: os.path.getsize(os.path.join(dist, n)) for n in os.listdir(dist)}
        print("release sizes: %s; 64-bit exe %d, 32-bit exe %d" % (sizes, os.path.getsize(EXE),
                                                                  os.path.getsize(EXE32)))

        box = self.box
        shutil.copy(setup, os.path.join(box.prefix, "drive_c", "setup.exe"))
        box.env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"  # no desktop entries outside the prefix
        server = RefServer(label=box.name)
        self.addCleanup(server.close)
        box.start_game()
        folder = os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Local", "Programs", "Marvik AC"))
        installed = [os.path.join(folder, "marvik_ac.exe"), os.path.join(folder, "uninstall.exe"),
                     os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Roaming", "Microsoft", "Windows",
                                                                         "Start Menu", "Programs", "Marvik AC.lnk"))]
        content = lambda name: pathlib.Path(folder, name).read_bytes()

        self.run_silent("C:\\setup.exe", "/SERVER=127.0.0.1", "/PORT=%d" % server.port, "/PLAYER=First")
        self.assertEqual(content("marvik_ac.cfg"), b"# anti-cheat client settings\r\nserver_ip=127.0.0.1\r\n"
                         b"server_port=%d\r\nplayer_name=First\r\nauto_start=1\r\nencryption=0\r\n" % server.port)
        self.assertTrue(all(map(os.path.exists, installed)), installed)
        self.verify(installed[0])
        self.verify(installed[1])
        beat = server.wait_events("heartbeat", timeout=60)
        self.assertTrue(beat, server.events())
        hello = server.events("hello")[0]
        self.assertEqual(hello["player"], "First")
        # A signed executable is still whole to the client's own checks.
        response = server.events("challenge_response")[0]
        self.assertEqual((response["answer_ok"], response["integrity_flags"], beat[0]["integrity_alert"]), (True, 0, 0))
        run = wait_for(box.run_value, 10)
        self.assertTrue(run and run[1].lower().endswith(r'\appdata\local\programs\marvik ac\marvik_ac.exe"'), run)
        self.assertTrue(run[1].startswith('"'), run)
        self.assertTrue(os.path.exists(os.path.join(folder, "marvik_ac.cfg.example")))

        self.run_silent("C:\\setup.exe", "/SERVER=127.0.0.1", "/PORT=%d" % server.port, "/PLAYER=Second")
        second = server.wait_events("hello", timeout=60, where=lambda e: e["player"] == "Second")
        self.assertTrue(second, server.events("hello"))
        session = second[0]["session"]
        self.assertNotEqual(session, hello["session"])
        self.assertTrue(server.wait_events("heartbeat", where=lambda e: e["session"] == session), server.events())
        stopped = lambda: content("marvik_ac.log").count(b"Marvik AntiCheat stopped.")
        self.assertEqual(stopped(), 1)
        self.assertNotIn(b"already running", content("marvik_ac.log"))

        # A setting the client could not use installs nothing. A name of two
        # words is one argument when quoted whole ("/PLAYER=John Smith", as
        # Wine quotes an argument with a blank), two when not.
        config = content("marvik_ac.cfg")
        for bad in (("/PORT=99999",), ("/PORT=0",), ("/PORT=abc",), ("/SERVER=game.example.org",),
                    ("/ENCRYPTION=yes",), ("/PLAYER=John Smith",), ("/PLAYER=John", "Smith")):
            self.assertEqual(self.run_silent("C:\\setup.exe", *bad), 2, bad)
            self.assertEqual(content("marvik_ac.cfg"), config, bad)
        # Settings not given keep their current values; the file is UTF-8;
        # /AUTOSTART=0 takes the Run value away.
        self.assertEqual(self.run_silent("C:\\setup.exe", "/PLAYER=Пётр", "/ENCRYPTION=1", "/AUTOSTART=0", "/NORUN"), 0)
        self.assertEqual(content("marvik_ac.cfg"), (
            "# anti-cheat client settings\r\nserver_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=Пётр\r\n"
            "auto_start=0\r\nencryption=1\r\n" % server.port).encode("utf-8"))
        self.assertTrue(wait_for(lambda: box.run_value() is None, 10))

        def uninstall(*switches):
            # The uninstaller runs on from a copy of itself and returns at once.
            self.run_silent("C:" + installed[1][len(os.path.join(box.prefix, "drive_c")):].replace("/", "\\"),
                            *switches)
            self.assertTrue(wait_for(lambda: not any(map(os.path.exists, installed)), 60), installed)

        uninstall()
        self.assertEqual(sorted(os.listdir(folder)), ["marvik_ac.cfg", "marvik_ac.log"])
        self.assertTrue(wait_for(lambda: box.run_value() is None, 10))
        self.assertTrue(wait_for(lambda: box.wine("reg", "query", UNINSTALL_KEY).returncode != 0, 10))
        self.assertEqual(stopped(), 2)

        # Without a server address the player's configuration stays as it is;
        # asked to, the uninstaller takes it and the log along.
        config = content("marvik_ac.cfg")
        self.run_silent("C:\\setup.exe", "/NORUN")
        self.assertTrue(os.path.exists(installed[0]))
        self.assertEqual(content("marvik_ac.cfg"), config)
        uninstall("/PURGE")
        self.assertTrue(wait_for(lambda: not os.path.exists(folder), 10))


if __name__ == "__main__":
    unittest.main()
