"""A player whose profile and game folder are in Cyrillic, Polish, Turkish or Chinese letters, on Windows with the
ANSI code page 1252, 1251 and 936 (two bytes a letter): the client finds its configuration, log, game, GUID and
config_mp.cfg, writes its Run value, and the server receives each text in the code page when that holds it, else in
UTF-8 (the conversions are the native tests'; here the system's own calls under each code page)."""

import pathlib
import unittest
import zlib

from harness import RefServer, WineBox, game_files, locale_env, read_text

GUID = "00112233445566778899aabbccddeeff"
CONFIG_MP = b"seta name \"player\"\r\n" * 60
# (script, the player's name and profile folder, the game's folder under C:\)
SCRIPTS = [("Cyrillic", "Пётр", "Игры\\Call of Duty 4"), ("Polish", "Łukasz", "Gry\\Łukasz\\CoD4"),
           ("Turkish", "Çağrı", "Oyunlar\\Çağrı\\CoD4"), ("Chinese", "玩家", "游戏\\使命召唤4")]


def wire(text, codepage):
    """Text as a plug-in must receive it: in the code page when that holds every character, else UTF-8."""
    try:
        return text.encode(codepage)
    except UnicodeEncodeError:
        return text.encode("utf-8")


# (code page, the Unix locale Wine takes it from, the configuration as saved: UTF-8 with its mark, or as an older
# Notepad saves it, in the code page when that holds the text).
WINDOWS = [("cp1252", "en_US.UTF-8", lambda text, codepage: "\ufeff".encode() + text.encode("utf-8")),
           ("cp1251", "ru_RU.UTF-8", wire), ("cp936", "zh_CN.UTF-8", wire)]


class UnicodeMatrix(unittest.TestCase):
    def cell(self, codepage, locale, save, script, name, game_folder):
        box = WineBox("users/%s/AppData/Local/Programs/Marvik AC" % name, name="unicode-%s-%s" % (codepage, script),
                      env=locale_env(locale))
        self.addCleanup(box.close)
        server = RefServer()
        self.addCleanup(server.close)
        game = game_files(box, GUID, CONFIG_MP, name, game_folder)
        config_text = "server_ip=127.0.0.1\r\nserver_port=%d\r\nplayer_name=%s\r\n" % (server.port, name)
        pathlib.Path(box.path("marvik_ac.cfg")).write_bytes(save(config_text, codepage))

        box.start_game(folder=game_folder.replace("\\", "/"))
        box.start_client()
        self.assertTrue(server.wait_events("config", timeout=30), box.log_text())
        self.assertTrue(server.wait_events("module_log", timeout=30), server.events())
        hello, config = server.events("hello")[0], server.events("config")[0]
        first_logged = server.events("module_log")[0]["modules"][0]
        exe_crc = "0x%08x" % zlib.crc32(pathlib.Path(game, "iw3mp.exe").read_bytes())
        received = lambda text: text.encode("latin-1")  # the server prints bytes as \u00XX
        self.assertEqual((received(hello["player"]), hello["guid"]), (wire(name, codepage), GUID))
        self.assertEqual((server.events("challenge_response")[0]["game_crc"], first_logged["crc32"]), (exe_crc,) * 2)
        self.assertEqual(received(first_logged["path"]), wire("C:\\%s\\iw3mp.exe" % game_folder, codepage))
        self.assertEqual((received(config["player"]), config["size"], config["complete"]),
                         (wire(name, codepage), len(CONFIG_MP), True))
        self.assertIn("[CONFIG] Found: C:\\%s\\players\\profiles\\%s\\config_mp.cfg" % (game_folder, name),
                      read_text(box.path("marvik_ac.log")))
        self.assertEqual(box.run_value(), '"%s\\marvik_ac.exe"' % box.folder_win)

    def test_each_script_under_each_code_page(self):
        for codepage, locale, save in WINDOWS:
            for script, name, game_folder in SCRIPTS:
                with self.subTest(codepage=codepage, script=script):
                    try:
                        self.cell(codepage, locale, save, script, name, game_folder)
                    finally:
                        self.doCleanups()  # one box at a time

