"""The release as a player gets it: the signed installer and zip made by
tools/release.sh with a throwaway certificate, then one player's whole
story under Wine: a silent install with switches, a session against the
reference server, an update installed over the running client, and a silent
uninstall."""

import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from harness import EXE, ROOT, RUN_KEY, RefServer, SystemTest, wait_for

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marvik AC"
PASSWORD = "throwaway-pass"


def verify(path, ca):
    """osslsigncode's verdict on a file's signature: (ok, its output)."""
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path], capture_output=True, text=True)
    return r.returncode == 0, r.stdout + r.stderr


class Release(SystemTest):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="marvik-release-")
        cls.cert = os.path.join(cls.tmp, "cert.pem")
        key = os.path.join(cls.tmp, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2", "-keyout", key,
                        "-out", cls.cert, "-subj", "/CN=Marvik AC throwaway signer",
                        "-addext", "extendedKeyUsage=codeSigning", "-passout", "pass:" + PASSWORD],
                       check=True, capture_output=True)
        cls.dist = os.path.join(cls.tmp, "dist")
        env = dict(os.environ, MARVIK_SIGN_CERT=cls.cert, MARVIK_SIGN_KEY=key, MARVIK_SIGN_PASSWORD=PASSWORD)
        env.pop("MARVIK_SIGN_TIMESTAMP", None)
        subprocess.run([os.path.join(ROOT, "tools", "release.sh"), "--exe", EXE, "--out", cls.dist],
                       env=env, check=True, capture_output=True)
        names = os.listdir(cls.dist)
        cls.setup = os.path.join(cls.dist, next(n for n in names if n.endswith("-setup.exe")))
        cls.zip = os.path.join(cls.dist, next(n for n in names if n.endswith("-portable.zip")))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_installer_and_zipped_exe_are_signed_and_a_changed_byte_breaks_the_signature(self):
        ok, out = verify(self.setup, self.cert)
        self.assertTrue(ok, out)
        with zipfile.ZipFile(self.zip) as z:
            self.assertEqual(sorted(z.namelist()), ["marvik_ac.cfg.example", "marvik_ac.exe"])
            exe = os.path.join(self.tmp, "zipped.exe")
            with open(exe, "wb") as f:
                f.write(z.read("marvik_ac.exe"))
        ok, out = verify(exe, self.cert)
        self.assertTrue(ok, out)
        with open(exe, "r+b") as f:
            f.seek(0x1000)
            byte = f.read(1)
            f.seek(0x1000)
            f.write(bytes([byte[0] ^ 0xFF]))
        self.assertFalse(verify(exe, self.cert)[0])

    def install(self, *switches):
        setup = os.path.join(self.box.prefix, "drive_c", "setup.exe")
        shutil.copy(self.setup, setup)
        # The installer starts the client, which must not hold our pipes.
        subprocess.run(["/usr/lib/wine/wine64", "C:\\setup.exe", "/S", *switches], env=self.box.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def test_silent_install_session_update_over_running_client_and_uninstall(self):
        box = self.box
        # No desktop entries for the shortcut outside the prefix.
        box.env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"
        server = RefServer(label=box.name)
        self.addCleanup(server.close)
        box.start_game()
        folder = os.path.join(box.prefix, "drive_c", box.user_folder("AppData", "Local", "Programs", "Marvik AC"))
        installed_exe = os.path.join(folder, "marvik_ac.exe")
        shortcut = os.path.join(box.prefix, "drive_c", box.user_folder(
            "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "Marvik AC.lnk"))

        self.install("/SERVER=127.0.0.1", "/PORT=%d" % server.port, "/PLAYER=First")
        with open(os.path.join(folder, "marvik_ac.cfg"), newline="") as f:
            self.assertEqual(f.read(), "# anti-cheat client settings\r\nserver_ip=127.0.0.1\r\nserver_port=%d\r\n"
                             "player_name=First\r\nauto_start=1\r\nencryption=0\r\n" % server.port)
        self.assertTrue(os.path.exists(shortcut))
        for name in ("marvik_ac.exe", "uninstall.exe"):
            ok, out = verify(os.path.join(folder, name), self.cert)
            self.assertTrue(ok, name + ": " + out)
        beat = server.wait_events("heartbeat", timeout=60)
        self.assertTrue(beat, server.events())
        hello = server.events("hello")[0]
        self.assertEqual(hello["player"], "First")
        # A signed executable is still whole to the client's own checks.
        response = server.events("challenge_response")[0]
        self.assertEqual((response["answer_ok"], response["integrity_flags"]), (True, 0))
        self.assertEqual(beat[0]["integrity_alert"], 0)
        run = wait_for(box.run_value, 10)
        self.assertTrue(run and run[1].lower().endswith(r"\appdata\local\programs\marvik ac\marvik_ac.exe"), run)

        self.install("/SERVER=127.0.0.1", "/PORT=%d" % server.port, "/PLAYER=Second")
        second = server.wait_events("hello", timeout=60, where=lambda e: e["player"] == "Second")
        self.assertTrue(second, server.events("hello"))
        self.assertNotEqual(second[0]["session"], hello["session"])
        self.assertTrue(server.wait_events("heartbeat", timeout=30, where=lambda e: e["session"] == second[0]["session"]))
        with open(os.path.join(folder, "marvik_ac.log"), encoding="latin-1") as f:
            log = f.read()
        self.assertEqual(log.count("Marvik AntiCheat stopped."), 1, log)
        self.assertNotIn("already running", log)

        def uninstall(*switches):
            # The uninstaller runs on from a copy of itself and returns at once.
            subprocess.run(["/usr/lib/wine/wine64", os.path.join(folder, "uninstall.exe").replace(
                os.path.join(box.prefix, "drive_c"), "C:").replace("/", "\\"), "/S", *switches], env=box.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            left = lambda: [p for p in (installed_exe, os.path.join(folder, "uninstall.exe"), shortcut)
                            if os.path.exists(p)]
            self.assertTrue(wait_for(lambda: not left(), 60), left())

        uninstall()
        self.assertEqual(sorted(os.listdir(folder)), ["marvik_ac.cfg", "marvik_ac.log"])
        self.assertTrue(wait_for(lambda: box.run_value() is None, 10))
        self.assertTrue(wait_for(lambda: box.wine("reg", "query", UNINSTALL_KEY).returncode != 0, 10))
        with open(os.path.join(folder, "marvik_ac.log"), encoding="latin-1") as f:
            self.assertEqual(f.read().count("Marvik AntiCheat stopped."), 2)

        # Without a server address the player's configuration stays as it is;
        # asked to, the uninstaller takes it and the log along.
        with open(os.path.join(folder, "marvik_ac.cfg"), "rb") as f:
            config = f.read()
        self.install("/NORUN")
        self.assertTrue(os.path.exists(installed_exe))
        with open(os.path.join(folder, "marvik_ac.cfg"), "rb") as f:
            self.assertEqual(f.read(), config)
        uninstall("/PURGE")
        self.assertTrue(wait_for(lambda: not os.path.exists(folder), 10))


if __name__ == "__main__":
    unittest.main()
