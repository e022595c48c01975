"""The release as a player gets it (the signed installer and zip of tools/release.sh, with a throwaway
certificate), in one player's story: a silent install, a session with RC4 on the wire, an update
over the running client, an uninstall, the installer page by page over the player's configuration, and the
installer on a 32-bit Windows."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import zipfile

from harness import EXE, EXE32, ROOT, SessionTest, WineBox, wait_for

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marvik AC"
PASSWORD = "throwaway-pass"
TITLE = "Marvik AC 3.2 Setup"


class Release(SessionTest):
    server_options = ("--encryption",)

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="marvik-release-")
        cls.cert, key, dist = (os.path.join(cls.tmp, n) for n in ("cert.pem", "key.pem", "dist"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2", "-keyout", key,
                        "-out", cls.cert, "-subj", "/CN=Marvik AC throwaway signer",
                        "-addext", "extendedKeyUsage=codeSigning", "-passout", "pass:" + PASSWORD],
                       check=True, capture_output=True)
        env = dict(os.environ, MARVIK_SIGN_CERT=cls.cert, MARVIK_SIGN_KEY=key, MARVIK_SIGN_PASSWORD=PASSWORD)
        env.pop("MARVIK_SIGN_TIMESTAMP", None)
        subprocess.run([os.path.join(ROOT, "tools", "release.sh"), "--exe", EXE, "--exe32", EXE32, "--out", dist],
                       env=env, check=True, capture_output=True)
        cls.setup = os.path.join(dist, next(n for n in os.listdir(dist) if n.endswith("-setup.exe")))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, True)

    def verify(self, path):
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path], capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, path + ": " + r.stdout + r.stderr)

    def give_setup(self, box):
        shutil.copy(self.setup, os.path.join(box.prefix, "drive_c", "setup.exe"))
        box.env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"  # no desktop entries outside the prefix

    def run_silent(self, windows_path, *switches, box=None):
        box = box or self.box  # the installer starts the client, which must not hold our pipes
        return subprocess.run([box.loader, windows_path, "/S", *switches], env=box.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120).returncode

    def run_pages(self):
        """Enter on the welcome, folder and settings pages, then on the progress and finish pages until it ends."""
        setup = self.box.popen("C:\\setup.exe")
        x = dict(os.environ, DISPLAY=self.box.display)
        subprocess.run(["xdotool", "search", "--sync", "--name", TITLE], env=x, capture_output=True, timeout=60)
        for _ in ("welcome", "folder", "settings"):
            time.sleep(3)  # the page settles
            subprocess.run(["xdotool", "key", "Return"], env=x, timeout=30)
        self.assertTrue(wait_for(lambda: subprocess.run(["xdotool", "key", "Return"], env=x, timeout=30)
                                 and setup.poll() is not None, 60, step=3))
        return setup.returncode

    def test_signed_files_silent_install_session_update_over_running_client_and_uninstall(self):
        self.verify(self.setup)
        with zipfile.ZipFile(self.setup.replace("-setup.exe", "-portable.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["32-bit/marvik_ac.cfg.example", "32-bit/marvik_ac.exe",
                                                    "64-bit/marvik_ac.cfg.example", "64-bit/marvik_ac.exe",
                                                    "README.txt"])
            for width, machine in (("64", b"PE\0\0\x64\x86"), ("32", b"PE\0\0\x4c\x01")):
                self.assertIn(machine, z.read(width + "-bit/marvik_ac.exe")[:1024], width)
                self.verify(z.extract(width + "-bit/marvik_ac.exe", self.tmp))

        box, server = self.box, self.server
        self.give_setup(box)
        box.start_game()
        folder = os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Local", "Programs", "Marvik AC"))
        installed = [os.path.join(folder, n) for n in ("marvik_ac.exe", "uninstall.exe", "marvik_ac.cfg.example")] + [
                     os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Roaming", "Microsoft", "Windows",
                                                                         "Start Menu", "Programs", "Marvik AC.lnk"))]
        content = lambda name: pathlib.Path(folder, name).read_bytes()

        self.run_silent("C:\\setup.exe", "/SERVER=127.0.0.1", "/PORT=%d" % server.port, "/PLAYER=First",
                        "/ENCRYPTION=1")
        self.assertEqual(content("marvik_ac.cfg"), b"# anti-cheat client settings\r\nserver_ip=127.0.0.1\r\n"
                         b"server_port=%d\r\nplayer_name=First\r\nauto_start=1\r\nencryption=1\r\n" % server.port)
        self.assertTrue(all(map(os.path.exists, installed)), installed)
        for signed in installed[:2]:
            self.verify(signed)
        run = wait_for(box.run_value, 10)
        self.assertRegex(run.lower(), r'^".*\\appdata\\local\\programs\\marvik ac\\marvik_ac\.exe"$')

        # The whole session, RC4 on the wire; a signed executable is still whole to the client's own checks.
        hello = (server.wait_events("hello", timeout=60) or [{}])[0]
        self.assertEqual(hello.get("player"), "First", server.events())
        beats = server.wait_events("heartbeat", 3, timeout=60)
        self.assertEqual({(b["session"], b["integrity_alert"]) for b in beats}, {(hello["session"], 0)}, beats)
        response = server.events("challenge_response")[0]
        self.assertEqual((response["answer_ok"], response["integrity_flags"]), (True, 0))
        self.assertEqual(server.events("malformed"), [])  # every packet past the challenge decrypted
        self.assertTrue({"[CRYPTO] RC4 encryption enabled", "[AC] AntiCheat is running."}
                        <= {line[11:] for line in content("marvik_ac.log").decode("latin-1").splitlines()})
        verified = box.wait_tray(lambda e: e["tip"].endswith("Verified - Active"))
        waiting = box.wait_tray(lambda e: e["tip"].endswith("Connecting..."))
        self.assertNotIn(verified["icon"], ("", waiting["icon"]))

        self.run_silent("C:\\setup.exe", "/SERVER=127.0.0.1", "/PORT=%d" % server.port, "/PLAYER=Second")
        second = server.wait_events("hello", timeout=60, where=lambda e: e["player"] == "Second")
        self.assertTrue(second, server.events("hello"))
        stopped = lambda: content("marvik_ac.log").count(b"Marvik AntiCheat stopped.")
        self.assertEqual(stopped(), 1)

        # A setting the client could not use installs nothing; a name of two words is one argument or two.
        config = content("marvik_ac.cfg")
        for bad in (("/PORT=99999",), ("/PORT=0",), ("/PORT=abc",), ("/SERVER=game.example.org",),
                    ("/ENCRYPTION=yes",), ("/PLAYER=John Smith",), ("/PLAYER=John", "Smith")):
            self.assertEqual(self.run_silent("C:\\setup.exe", *bad), 2, bad)
            self.assertEqual(content("marvik_ac.cfg"), config, bad)
        # Settings not given keep their values; the file is UTF-8; /AUTOSTART=0 takes the Run value away.
        self.assertEqual(self.run_silent("C:\\setup.exe", "/PLAYER=Пётр", "/ENCRYPTION=0", "/AUTOSTART=0", "/NORUN"),
                         0)
        self.assertEqual(content("marvik_ac.cfg"), (
            "# anti-cheat client settings\r\nserver_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=Пётр\r\n"
            "auto_start=0\r\nencryption=0\r\n" % server.port).encode("utf-8"))
        self.assertTrue(wait_for(lambda: box.run_value() is None, 10))

        def uninstall(*switches):
            # It runs on from a copy of itself and returns at once.
            self.run_silent("C:" + installed[1][len(os.path.join(box.prefix, "drive_c")):].replace("/", "\\"),
                            *switches)
            self.assertTrue(wait_for(lambda: not any(map(os.path.exists, installed)), 60), installed)

        uninstall()
        self.assertEqual(sorted(os.listdir(folder)), ["marvik_ac.cfg", "marvik_ac.log"])
        self.assertTrue(wait_for(lambda: box.wine("reg", "query", UNINSTALL_KEY).returncode != 0, 10))
        self.assertEqual(stopped(), 2)

        # Page by page over the configuration as Notepad saves it (UTF-8 with its mark): Enter keeps every setting.
        config = content("marvik_ac.cfg")
        pathlib.Path(folder, "marvik_ac.cfg").write_bytes(b"\xef\xbb\xbf" + config)
        self.assertEqual(self.run_pages(), 0)
        self.assertEqual(content("marvik_ac.cfg"), config)
        self.assertTrue(os.path.exists(installed[0]))

        # /PURGE takes the configuration and the log along.
        uninstall("/PURGE")
        self.assertTrue(wait_for(lambda: not os.path.exists(folder), 10))

        # A 32-bit Windows gets the 32-bit client (its sessions are realistic_test's).
        box32 = WineBox("marvik", name="release-32", windows_bits=32)
        self.addCleanup(box32.close)
        self.give_setup(box32)
        self.assertEqual(self.run_silent("C:\\setup.exe", "/SERVER=127.0.0.1", "/NORUN", box=box32), 0)
        exe32 = box32.user_folder("AppData", "Local", "Programs", "Marvik AC", "marvik_ac.exe")
        self.assertIn(b"PE\0\0\x4c\x01", pathlib.Path(box32.prefix, "drive_c", exe32).read_bytes()[:1024])

