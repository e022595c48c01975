#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/globals.h"
#include "config/config.h"
#include "support/files.h"

namespace marvik {
namespace {

// Parses text as the program reads a file: from a real file, in text mode.
Config parse(const std::string& text) {
    std::string path = test::besideExe("parse_test.cfg");
    test::writeFile(path, text);
    Config cfg;
    std::FILE* f = std::fopen(path.c_str(), "r");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
        parseConfigStream(f, cfg);
        std::fclose(f);
    }
    test::removePath(path);
    return cfg;
}

Config settings(const char* ip, std::uint16_t port = 28960, const std::string& name = "", bool autoStart = true,
                bool encryption = false) {
    Config c;
    c.serverIP = ip;
    c.serverPort = port;
    c.playerName = name;
    c.autoStart = autoStart;
    c.encryption = encryption;
    return c;
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
        {"defaults when keys are absent", "server_ip=10.0.0.1\n", settings("10.0.0.1", 28960, "", true, false)},
        {"CR LF reads like LF", "server_ip=10.0.0.1\r\nplayer_name=Bob\r\nserver_port=1234\r\n",
         settings("10.0.0.1", 1234, "Bob")},
        {"a lone CR ends the line", "player_name=Ann\rplayer_name=Zed\n", settings("", 28960, "Ann")},
        {"blanks around the key make it unknown", "server_ip =10.0.0.1\n server_port=1\nplayer_name=P\n",
         settings("", 28960, "P")},
        {"value stops at the first blank, leading blanks skipped",
         "player_name=John Smith\nserver_ip= \t 10.1.2.3 trailing\n", settings("10.1.2.3", 28960, "John")},
        {"lines without usable fields are ignored",
         "player_name=Keep\nplayer_name=\nplayer_name=   \n=Nobody\nplayer_name Nobody\n#player_name=Hidden\n\n",
         settings("", 28960, "Keep")},
        {"a hash later in the line is text", "player_name=a#b\n", settings("", 28960, "a#b")},
        {"keys are case-sensitive", "Server_IP=10.0.0.1\nSERVER_PORT=5\n", settings("")},
        {"the last line wins", "server_port=1\nplayer_name=A\nserver_port=2\nplayer_name=B\n", settings("", 2, "B")},
        {"a value keeps its first 191 characters", "player_name=" + std::string(250, 'v') + "\n",
         settings("", 28960, std::string(191, 'v'))},
        {"a key longer than 63 is ignored", std::string(64, 'k') + "=x\nplayer_name=ok\n", settings("", 28960, "ok")},
        {"a long line's rest is read as a line", "#" + piece.substr(1) + "server_port=4242\n", settings("", 4242)},
        {"a value past the piece is cut there", "player_name=" + std::string(300, 'n') + "\n",
         settings("", 28960, std::string(191, 'n'))},
        // The port is atoi's value, low 16 bits; a saturated one is 0xFFFF.
        {"port abc", "server_port=abc\n", settings("", 0)},
        {"port with trailing text", "server_port=28961x\n", settings("", 28961)},
        {"port 70000", "server_port=70000\n", settings("", 4464)},
        {"port -1", "server_port=-1\n", settings("", 65535)},
        {"port +80", "server_port=+80\n", settings("", 80)},
        {"port saturated", "server_port=99999999999999999999\n", settings("", 65535)},
        // Flags are non-zero numbers.
        {"flag yes", "auto_start=yes\n", settings("", 28960, "", false)},
        {"flag 2", "auto_start=2\n", settings("", 28960, "", true)},
        {"flag -1 and 1abc", "auto_start=-1\nencryption=1abc\n", settings("", 28960, "", true, true)},
        {"flag abc1", "encryption=abc1\n", settings("", 28960, "", true, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Config cfg = parse(c.text);
        EXPECT_EQ(cfg.serverIP, c.expected.serverIP);
        EXPECT_EQ(cfg.serverPort, c.expected.serverPort);
        EXPECT_EQ(cfg.playerName, c.expected.playerName);
        EXPECT_EQ(cfg.autoStart, c.expected.autoStart);
        EXPECT_EQ(cfg.encryption, c.expected.encryption);
    }
}

TEST(ConfigInteger, FollowsAtoiAndSaturatesInsteadOfOverflowing) {
    EXPECT_EQ(configInteger("  42"), 42);
    EXPECT_EQ(configInteger("-17z"), -17);
    EXPECT_EQ(configInteger("+"), 0);
    EXPECT_EQ(configInteger(""), 0);
    EXPECT_EQ(configInteger("2147483647"), 2147483647);
    EXPECT_EQ(configInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(configInteger("99999999999999999999999"), 2147483647);
    EXPECT_EQ(configInteger("-99999999999999999999999"), -2147483647 - 1);
}

class ConfigFile : public testing::Test {
protected:
    void SetUp() override { test::removePath(path); }
    void TearDown() override { test::removePath(path); }
    std::string path = test::besideExe(CONFIG_FILE_NAME);
};

TEST_F(ConfigFile, ReadsFileBesideExecutable) {
    test::writeFile(path, "server_ip=127.0.0.1\nserver_port=27000\nplayer_name=Zed\nencryption=1\n");
    ASSERT_TRUE(loadConfiguration());
    EXPECT_EQ(g_serverIP, "127.0.0.1");
    EXPECT_EQ(g_serverPort, 27000);
    EXPECT_EQ(g_playerName, "Zed");
    EXPECT_TRUE(g_encryption);
    EXPECT_TRUE(g_autoStart);
}

TEST_F(ConfigFile, FileWithoutServerIsNoConfiguration) {
    Config cfg;
    test::writeFile(path, "# only comments\n");
    EXPECT_FALSE(readConfigFile(path.c_str(), cfg));
    test::writeFile(path, "");
    EXPECT_FALSE(readConfigFile(path.c_str(), cfg));
    test::writeFile(path, "server_ip=\nplayer_name=x\n");
    EXPECT_FALSE(readConfigFile(path.c_str(), cfg));
    test::removePath(path);
    EXPECT_FALSE(readConfigFile(path.c_str(), cfg));
}

}  // namespace
}  // namespace marvik
