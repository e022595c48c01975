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

TEST(ConfigParse, FullExampleFile) {
    Config cfg = parse(
        "# anti-cheat client settings\n"
        "server_ip=203.0.113.7\n"
        "server_port=28961\n"
        "player_name=Sniper\n"
        "auto_start=0\n"
        "encryption=1\n");
    EXPECT_EQ(cfg.serverIP, "203.0.113.7");
    EXPECT_EQ(cfg.serverPort, 28961);
    EXPECT_EQ(cfg.playerName, "Sniper");
    EXPECT_FALSE(cfg.autoStart);
    EXPECT_TRUE(cfg.encryption);
}

TEST(ConfigParse, DefaultsWhenKeysAbsent) {
    Config cfg = parse("server_ip=10.0.0.1\n");
    EXPECT_EQ(cfg.serverPort, 28960);
    EXPECT_EQ(cfg.playerName, "");
    EXPECT_TRUE(cfg.autoStart);
    EXPECT_FALSE(cfg.encryption);
}

TEST(ConfigParse, CrLfReadsLikeLf) {
    Config cfg = parse("server_ip=10.0.0.1\r\nplayer_name=Bob\r\nserver_port=1234\r\n");
    EXPECT_EQ(cfg.serverIP, "10.0.0.1");
    EXPECT_EQ(cfg.playerName, "Bob");
    EXPECT_EQ(cfg.serverPort, 1234);
}

TEST(ConfigParse, LoneCrEndsTheLine) {
    // Everything after the first CR of a line is dropped.
    Config cfg = parse("player_name=Ann\rplayer_name=Zed\n");
    EXPECT_EQ(cfg.playerName, "Ann");
}

TEST(ConfigParse, BlanksAroundTheKeyMakeItUnknown) {
    Config cfg = parse("server_ip =10.0.0.1\n server_port=1\nplayer_name=P\n");
    EXPECT_EQ(cfg.serverIP, "");
    EXPECT_EQ(cfg.serverPort, 28960);
    EXPECT_EQ(cfg.playerName, "P");
}

TEST(ConfigParse, ValueStopsAtFirstBlankAndSkipsLeadingBlanks) {
    Config cfg = parse("player_name=John Smith\nserver_ip= \t 10.1.2.3 trailing\n");
    EXPECT_EQ(cfg.playerName, "John");
    EXPECT_EQ(cfg.serverIP, "10.1.2.3");
}

TEST(ConfigParse, LinesWithoutUsableFieldsAreIgnored) {
    Config cfg = parse(
        "player_name=Keep\n"
        "player_name=\n"          // nothing after '='
        "player_name=   \n"       // only blanks after '='
        "=Nobody\n"               // nothing before '='
        "player_name Nobody\n"    // no '='
        "#player_name=Hidden\n"   // comment
        "\n");
    EXPECT_EQ(cfg.playerName, "Keep");
}

TEST(ConfigParse, HashLaterInLineIsText) {
    Config cfg = parse("player_name=a#b\n");
    EXPECT_EQ(cfg.playerName, "a#b");
}

TEST(ConfigParse, KeysAreCaseSensitive) {
    Config cfg = parse("Server_IP=10.0.0.1\nSERVER_PORT=5\n");
    EXPECT_EQ(cfg.serverIP, "");
    EXPECT_EQ(cfg.serverPort, 28960);
}

TEST(ConfigParse, LastLineWins) {
    Config cfg = parse("server_port=1\nplayer_name=A\nserver_port=2\nplayer_name=B\n");
    EXPECT_EQ(cfg.serverPort, 2);
    EXPECT_EQ(cfg.playerName, "B");
}

TEST(ConfigParse, ValueKeepsFirst191Characters) {
    std::string longValue(250, 'v');
    Config cfg = parse("player_name=" + longValue + "\n");
    EXPECT_EQ(cfg.playerName, std::string(191, 'v'));
}

TEST(ConfigParse, KeyLongerThan63IsIgnored) {
    Config cfg = parse(std::string(64, 'k') + "=x\nplayer_name=ok\n");
    EXPECT_EQ(cfg.playerName, "ok");
}

TEST(ConfigParse, LineLongerThan255IsReadInPieces) {
    // 255 characters of padding fill the first piece; the rest of the line,
    // "server_port=4242", is then read as a line of its own.
    std::string line = "#" + std::string(254, 'x') + "server_port=4242\n";
    Config cfg = parse(line);
    EXPECT_EQ(cfg.serverPort, 4242);

    // A value that runs past the piece boundary is cut there.
    std::string name(300, 'n');
    cfg = parse("player_name=" + name + "\n");
    EXPECT_EQ(cfg.playerName, std::string(191, 'n'));
}

TEST(ConfigParse, PortTakesAtoiLow16Bits) {
    EXPECT_EQ(parse("server_port=abc\n").serverPort, 0);
    EXPECT_EQ(parse("server_port=28961x\n").serverPort, 28961);
    EXPECT_EQ(parse("server_port=70000\n").serverPort, 4464);
    EXPECT_EQ(parse("server_port=-1\n").serverPort, 65535);
    EXPECT_EQ(parse("server_port=+80\n").serverPort, 80);
    EXPECT_EQ(parse("server_port=0\n").serverPort, 0);
}

TEST(ConfigParse, FlagsAreNonZeroNumbers) {
    EXPECT_FALSE(parse("auto_start=yes\n").autoStart);
    EXPECT_FALSE(parse("auto_start=true\n").autoStart);
    EXPECT_FALSE(parse("auto_start=0\n").autoStart);
    EXPECT_TRUE(parse("auto_start=2\n").autoStart);
    EXPECT_TRUE(parse("auto_start=-1\n").autoStart);
    EXPECT_TRUE(parse("encryption=1abc\n").encryption);
    EXPECT_FALSE(parse("encryption=abc1\n").encryption);
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
    // A saturated port is 0xFFFF, a saturated flag is still "on".
    EXPECT_EQ(parse("server_port=99999999999999999999\n").serverPort, 65535);
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

TEST_F(ConfigFile, MissingFileLogsPathAndShowsBalloon) {
    std::string logPath = test::freshLog();
    EXPECT_FALSE(loadConfiguration());
    std::string log = test::readFile(logPath);
    EXPECT_NE(log.find("[ERROR] No config found at " + path), std::string::npos) << log;
    test::TrayView tray = test::trayView();
    EXPECT_EQ(tray.info, "Config not found! Place marvik_ac.cfg next to exe.");
    EXPECT_EQ(tray.infoTitle, "Marvik AC");
    EXPECT_EQ(tray.level, 3u);
}

}  // namespace
}  // namespace marvik
