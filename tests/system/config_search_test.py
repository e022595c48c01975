"""Where the client looks for the player's config_mp.cfg, and what it sends."""

import os
import shutil
import unittest

from harness import SessionTest, wait_for

LOCALAPPDATA = os.path.join("users", os.environ.get("USER", "root"), "AppData", "Local")


class ConfigSearch(SessionTest):
    config_text = "server_ip=127.0.0.1\nserver_port={port}\nplayer_name={name}\nauto_start=0\n"
    player = "Alice"

    def setUp(self):
        super().setUp()
        self.drive = os.path.join(self.box.prefix, "drive_c")
        self.box.write_config(self.config_text.format(port=self.server.port, name=self.player))

    def put(self, relative, data=b"seta sensitivity 2\n"):
        path = os.path.join(self.drive, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return "C:\\" + relative.replace("/", "\\")

    def run_session(self, game_folder="game"):
        """One session up to the config step; the CONFIG lines it logged."""
        start = len(self.box.log_text().splitlines())
        self.box.start_game(folder=game_folder)
        self.box.start_client()
        done = lambda: [l for l in self.log_lines()[start:] if l.startswith("[CONFIG]") and
                        ("sent" in l or "not found" in l)] or None
        self.assertTrue(wait_for(lambda: done() or "[AC] AntiCheat is running." in self.log_lines()[start:], 60),
                        self.box.log_text())
        lines = [l for l in self.log_lines()[start:] if l.startswith("[CONFIG]")]
        self.assertEqual(self.box.acctl("stop")[0], 0)
        self.assertEqual(self.box.wait_client_exit(20), 0)
        self.box.procs.clear()
        self.box.stop_game()
        return lines

    def test_roots_and_candidates_in_their_order(self):
        # The named profile wins over "active" under the same root.
        alice = self.put("game/players/profiles/Alice/config_mp.cfg")
        self.put("game/players/profiles/active/config_mp.cfg")
        self.assertEqual(self.run_session()[0], "[CONFIG] Found: " + alice)

        # A fixed Steam root comes before the game's own folders.
        steam = self.put("Program Files (x86)/Steam/steamapps/common/Call of Duty 4/main/config_mp.cfg")
        self.assertEqual(self.run_session()[0], "[CONFIG] Found: " + steam)

        # LOCALAPPDATA comes first of all.
        local = self.put(LOCALAPPDATA.replace(os.sep, "/") + "/CallofDuty4MW/players/profiles/other/config_mp.cfg")
        self.assertEqual(self.run_session()[0], "[CONFIG] Found: " + local)

    def test_derived_roots_reach_up_from_the_game(self):
        found = self.put("games/players/config_mp.cfg")
        self.assertEqual(self.run_session("games/cod4/bin")[0], "[CONFIG] Found: " + found)

    def test_not_found_counts_the_roots(self):
        # LOCALAPPDATA, four fixed roots, then C:\game and C: from the game's path.
        self.assertEqual(self.run_session(), ["[CONFIG] config_mp.cfg not found (searched 7 roots)"])


class EmptyPlayerName(ConfigSearch):
    player = ""

    def test_roots_and_candidates_in_their_order(self):
        active = self.put("game/players/profiles/active/config_mp.cfg")
        self.put("game/players/profiles/zz/config_mp.cfg")
        self.assertEqual(self.run_session()[0], "[CONFIG] Found: " + active)

    test_derived_roots_reach_up_from_the_game = None
    test_not_found_counts_the_roots = None


class ConfigSizes(ConfigSearch):
    player = "Sizes"
    test_roots_and_candidates_in_their_order = None
    test_derived_roots_reach_up_from_the_game = None
    test_not_found_counts_the_roots = None

    def test_900_901_and_60000_bytes(self):
        for size, chunks in ((900, 1), (901, 2), (60000, 0)):
            with self.subTest(size=size):
                data = bytes((i * 7) & 0xFF for i in range(size))
                path = self.put("game/main/config_mp.cfg", data)
                seen = len(self.server.events("config"))
                lines = self.run_session()
                self.assertEqual(lines[0], "[CONFIG] Found: " + path)
                if chunks == 0:
                    self.assertEqual(lines, ["[CONFIG] Found: " + path])
                    self.assertEqual(len(self.server.events("config")), seen)
                    continue
                self.assertEqual(lines[1], "[CONFIG] Player config sent (%d bytes, %d chunks)" % (size, chunks))
                upload = self.server.wait_events("config", seen + 1, timeout=10)[-1]
                self.assertTrue(upload["complete"])
                self.assertEqual((upload["size"], upload["chunks"]), (size, chunks))
                sizes = [c["data_bytes"] for c in self.server.events("config_chunk")][-chunks:]
                self.assertEqual(sizes, [900] * (chunks - 1) + [size - 900 * (chunks - 1)])


if __name__ == "__main__":
    unittest.main()
