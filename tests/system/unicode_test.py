"""A player whose profile and game folder are in Cyrillic, Polish, Turkish
or Chinese letters, on a Windows whose ANSI code page is 1252, on one
whose code page is 1251 and on a Chinese one (936, two bytes a letter):
the client finds its configuration, log, game, GUID and config_mp.cfg,
writes its Run value, and the reference server receives each text in the
code page when that holds it, else in UTF-8. What the server received in
each cell is kept in unicode-matrix-<code page>.txt."""

import os
import unittest
import zlib

from harness import ARTIFACTS, RUN_KEY, RefServer, WineBox, locale_env, read_text

GUID = "00112233445566778899aabbccddeeff"
CONFIG_MP = b"seta name \"player\"\r\n" * 60
# (script, the player's name and profile folder, the game's folder under C:\)
SCRIPTS = [
    ("Cyrillic", "Пётр", "Игры\\Call of Duty 4"),
    ("Polish", "Łukasz", "Gry\\Łukasz\\CoD4"),
    ("Turkish", "Çağrı", "Oyunlar\\Çağrı\\CoD4"),
    ("Chinese", "玩家", "游戏\\使命召唤4"),
]


def wire(text, codepage):
    """Text as a plug-in must receive it: in the code page when that holds
    every character, else UTF-8."""
    try:
        return text.encode(codepage)
    except UnicodeEncodeError:
        return text.encode("utf-8")


def received(text):
    """A field the reference server printed (bytes as \\u00XX) as its bytes."""
    return text.encode("latin-1")


def run_value(box):
    """The Run value's data, read from an export (UTF-16), which keeps every letter."""
    out = os.path.join(box.tmp, "run.reg")
    box.wine("reg", "export", RUN_KEY, "Z:" + out.replace("/", "\\"), "/y")
    for line in read_text(out, encoding="utf-16").splitlines():
        if line.startswith('"Marvik_AntiCheat"='):
            return line.split("=", 1)[1][1:-1].replace('\\"', '"').replace("\\\\", "\\")
    return None


class UnicodeMatrix(unittest.TestCase):
    def cell(self, codepage, locale, script, name, game_folder, config_bytes):
        box = WineBox("users/%s/AppData/Local/Programs/Marvik AC" % name, name="unicode-%s-%s" % (codepage, script),
                      env=locale_env(locale))
        self.addCleanup(box.close)
        server = RefServer(label=box.name)
        self.addCleanup(server.close)
        drive_c = os.path.join(box.prefix, "drive_c")
        game = os.path.join(drive_c, *game_folder.split("\\"))
        os.makedirs(os.path.join(game, "players"))
        with open(os.path.join(game, "players", "guid.dat"), "w") as f:
            f.write(GUID + "\n")
        profiles = os.path.join(game, "players", "profiles", name)
        os.makedirs(profiles)
        with open(os.path.join(profiles, "config_mp.cfg"), "wb") as f:
            f.write(CONFIG_MP)
        with open(box.path("marvik_ac.cfg"), "wb") as f:
            f.write(config_bytes(server.port))

        box.start_game(folder=game_folder.replace("\\", "/"))
        box.start_client()
        self.assertTrue(server.wait_events("config", timeout=30), box.log_text())
        self.assertTrue(server.wait_events("module_log", timeout=30), server.events())
        hello = server.events("hello")[0]
        response = server.events("challenge_response")[0]
        first_module = server.events("module_list")[0]["modules"][0]
        first_logged = server.events("module_log")[0]["modules"][0]
        config = server.events("config")[0]

        with open(os.path.join(game, "iw3mp.exe"), "rb") as f:
            exe_crc = "0x%08x" % zlib.crc32(f.read())
        game_path = "C:\\%s\\iw3mp.exe" % game_folder
        found = "C:\\%s\\players\\profiles\\%s\\config_mp.cfg" % (game_folder, name)
        log = read_text(box.path("marvik_ac.log"))
        self.assertEqual(received(hello["player"]), wire(name, codepage))
        self.assertEqual(hello["guid"], GUID)
        self.assertEqual((response["game_crc"], first_module["crc32"], first_logged["crc32"]), (exe_crc,) * 3)
        self.assertEqual(received(first_logged["path"]), wire(game_path, codepage))
        self.assertEqual((received(config["player"]), config["size"], config["complete"]),
                         (wire(name, codepage), len(CONFIG_MP), True))
        self.assertIn("[CONFIG] Found: " + found, log)
        self.assertIn("Player: " + name, log)
        self.assertEqual(run_value(box), '"%s\\marvik_ac.exe"' % box.folder_win)
        def shown(text, field):
            raw = received(field)
            return "%s (%s)" % (raw.hex(" ") if len(raw) < 12 else text, "UTF-8" if raw == text.encode() else "ANSI")
        return "%s %-8s player %s %s; path %s; game_crc %s; guid ok; config_mp.cfg %d bytes" % (
            codepage[2:], script, name, shown(name, hello["player"]), shown(game_path, first_logged["path"]),
            response["game_crc"], config["size"])

    def matrix(self, codepage, locale, config_bytes):
        rows = []
        for script, name, game_folder in SCRIPTS:
            with self.subTest(script=script):
                rows.append(self.cell(codepage, locale, script, name, game_folder,
                                      lambda port, n=name: config_bytes(port, n)))
        with open(os.path.join(ARTIFACTS, "unicode-matrix-%s.txt" % codepage), "w", encoding="utf-8") as f:
            f.write("\n".join(rows) + "\n")
        print("\n".join(rows))

    def test_english_windows_1252_with_a_utf8_configuration_and_its_mark(self):
        self.matrix("cp1252", "en_US.UTF-8", lambda port, name: (
            "\ufeffserver_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=%s\r\n" % (port, name)).encode("utf-8"))

    def ansi_matrix(self, codepage, locale):
        # What an older Notepad saves: the code page, when it holds the text.
        self.matrix(codepage, locale, lambda port, name: wire(
            "server_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=%s\r\n" % (port, name), codepage))

    def test_russian_windows_1251_with_an_ansi_configuration_where_it_holds_the_name(self):
        self.ansi_matrix("cp1251", "ru_RU.UTF-8")

    def test_chinese_windows_936_with_an_ansi_configuration_where_it_holds_the_name(self):
        # A double-byte code page, which holds Cyrillic letters too.
        self.ansi_matrix("cp936", "zh_CN.UTF-8")


if __name__ == "__main__":
    unittest.main()
