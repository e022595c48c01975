#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "config/config.h"
#include "support/files.h"

namespace marvik {
namespace {

// Reads text as the program reads its file (no text: no file); the flag
// says whether it names a server.
std::pair<bool, Config> read(const std::string* text) {
    const std::string path = test::besideExe("parse_test.cfg");
    test::removePath(path);
    if (text != nullptr) test::writeFile(path, *text);
    Config cfg;
    const bool ok = readConfigFile(path, cfg);
    test::removePath(path);
    return {ok, cfg};
}

Config settings(const char* ip, std::uint16_t port = 28960, const std::string& name = "", bool autoStart = true,
                bool encryption = false) {
    return Config{ip, port, name, autoStart, encryption};
}

std::string petr(int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += "Пётр";
    return text;
}

// Each row: a file's text and the settings read from it (the defaults where
// the row names none).
TEST(ConfigParse, LinesKeysAndValues) {
    const std::string piece(255, 'x');  // a line's first 255 characters are read as one piece
    const struct {
        const char* what;
        std::string text;
        Config expected;
    } cases[] = {
        {"full example file",
         "# anti-cheat client settings\nserver_ip=203.0.113.7\nserver_port=28961\nplayer_name=Sniper\n"
         "auto_start=0\nencryption=1\n",
         settings("203.0.113.7", 28961, "Sniper", false, true)},
        {"CR LF reads like LF", "server_ip=10.0.0.1\r\nplayer_name=Bob\r\nserver_port=1234\r\n",
         settings("10.0.0.1", 1234, "Bob")},
        {"a lone CR ends the line", "player_name=Ann\rplayer_name=Zed\n", settings("", 28960, "Ann")},
        {"blanks around the key make it unknown", "server_ip =10.0.0.1\n server_port=1\nplayer_name=P\n",
         settings("", 28960, "P")},
        {"value stops at the first blank, leading blanks skipped",
         "player_name=John Smith\nserver_ip= \t 10.1.2.3 trailing\n", settings("10.1.2.3", 28960, "John")},
        {"lines without usable fields are ignored",
         "player_name=Keep\nplayer_name=\nplayer_name=   \n=Nobody\nplayer_name Nobody\n#player_name=Hidden\n"
         "server_ip=\n\n",
         settings("", 28960, "Keep")},
        {"a hash later in the line is text", "player_name=a#b\n", settings("", 28960, "a#b")},
        {"keys are case-sensitive", "Server_IP=10.0.0.1\nSERVER_PORT=5\n", settings("")},
        {"the last line wins", "server_port=1\nplayer_name=A\nserver_port=2\nplayer_name=B\n", settings("", 2, "B")},
        {"a value keeps its first 191 characters", "player_name=" + std::string(250, 'v') + "\n",
         settings("", 28960, std::string(191, 'v'))},
        {"a key longer than 63 is ignored", std::string(64, 'k') + "=x\nplayer_name=ok\n", settings("", 28960, "ok")},
        {"a long line's rest is read as a line", "#" + piece.substr(1) + "server_port=4242\n", settings("", 4242)},
        {"the port is the number's low 16 bits", "server_port=70000\n", settings("", 4464)},
        {"flags are non-zero numbers", "auto_start=yes\nencryption=2\n", settings("", 28960, "", false, true)},
        {"a byte-order mark before the first key", "\xEF\xBB\xBFserver_ip=10.0.0.9\r\nplayer_name=Пётр\r\n",
         settings("10.0.0.9", 28960, "Пётр")},
        {"UTF-8 without a mark", "player_name=玩家\n", settings("", 28960, "玩家")},
        {"not UTF-8: the code page's", "player_name=Jos\xE9\n", settings("", 28960, "José")},
        {"a mark before bytes that are not UTF-8", "\xEF\xBB\xBFplayer_name=Jos\xE9\n", settings("", 28960, "José")},
        {"a mark alone", "\xEF\xBB\xBF", settings("")},
        {"a long value cut between characters", "player_name=" + petr(40) + "\n", settings("", 28960, petr(23) + "Пёт")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto [named, cfg] = read(&c.text);
        EXPECT_EQ(named, !c.expected.serverIP.empty());
        EXPECT_EQ(cfg.serverIP, c.expected.serverIP);
        EXPECT_EQ(cfg.serverPort, c.expected.serverPort);
        EXPECT_EQ(cfg.playerName, c.expected.playerName);
        EXPECT_EQ(cfg.autoStart, c.expected.autoStart);
        EXPECT_EQ(cfg.encryption, c.expected.encryption);
    }
    EXPECT_FALSE(read(nullptr).first);
}

TEST(ConfigInteger, FollowsAtoiAndSaturatesInsteadOfOverflowing) {
    EXPECT_EQ(configInteger("  42"), 42);
    EXPECT_EQ(configInteger("-17z"), -17);
    EXPECT_EQ(configInteger("+"), 0);
    EXPECT_EQ(configInteger("abc"), 0);
    EXPECT_EQ(configInteger("2147483647"), 2147483647);
    EXPECT_EQ(configInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(configInteger("99999999999999999999999"), 2147483647);
    EXPECT_EQ(configInteger("-99999999999999999999999"), -2147483647 - 1);
}

}  // namespace
}  // namespace marvik
