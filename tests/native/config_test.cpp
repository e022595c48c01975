// The client's own settings file, and the player's game config it finds and sends.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "config/config.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "session/player_config.h"
#include "support/files.h"
#include "support/report_samples.h"
#include "support/wire.h"

namespace marvik {
namespace {

// A file's settings as "ip:port player aN eN", then "named" when it names a server the program can take.
std::string readBack(const std::string& text) {
    const std::string path = test::besideExe("parse_test.cfg");
    test::writeFile(path, text);
    Config c;
    const bool named = readConfigFile(path, c);
    test::removePath(path);
    return c.serverIP + ":" + std::to_string(c.serverPort) + " " + c.playerName + " a" + std::to_string(c.autoStart) +
           " e" + std::to_string(c.encryption) + (named ? " named" : "");
}

TEST(ConfigParse, LinesKeysAndValues) {
    const std::string petr = "Пётр", piece(255, 'x');  // a line's first 255 bytes are read as one piece
    const std::string cases[][2] = {
        {"# settings\nserver_ip=203.0.113.7\nserver_port=28961\nplayer_name=Sniper\nauto_start=0\nencryption=1\n",
         "203.0.113.7:28961 Sniper a0 e1 named"},
        {"server_ip=10.0.0.1\r\nplayer_name=Bob\r\nserver_port=1234\r\n", "10.0.0.1:1234 Bob a1 e0 named"},
        // Blanks around a key, a case change or a hash make a line unknown.
        {"server_ip =1\n server_port=1\nSERVER_PORT=5\n#player_name=H\nplayer_name=a#b\nplayer_name=\n=N\n",
         ":28960 a#b a1 e0"},
        {"server_port=1\nserver_port=70000\nplayer_name=" + std::string(250, 'v') + "\n",
         ":4464 " + std::string(191, 'v') + " a1 e0"},  // the last wins; 16 bits; 191 characters
        {"#" + piece.substr(1) + "server_port=4242\n", ":4242  a1 e0"},  // a long line's rest is a line
        {"auto_start=yes\nencryption=2\n", ":28960  a0 e1"},             // flags are non-zero numbers
        {"\xEF\xBB\xBFserver_ip=10.0.0.9\r\nplayer_name=" + petr + "\r\n", "10.0.0.9:28960 " + petr + " a1 e0 named"},
        {"\xEF\xBB\xBFplayer_name=Jos\xE9\n", ":28960 José a1 e0"},  // not UTF-8 after all: the code page's
    };
    for (const auto& c : cases) EXPECT_EQ(readBack(c[0]), c[1]) << c[0];
    Config none;
    EXPECT_FALSE(readConfigFile(test::besideExe("no_such.cfg"), none));
}

TEST(ConfigInteger, FollowsAtoiAndSaturatesInsteadOfOverflowing) {
    const std::pair<const char*, int> cases[] = {{"  42", 42}, {"-17z", -17}, {"+", 0}, {"abc", 0},
                                                 {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
                                                 {"99999999999999999999", 2147483647},
                                                 {"-99999999999999999999", -2147483647 - 1}};
    for (const auto& [text, value] : cases) EXPECT_EQ(configInteger(text), value) << text;
}

// LOCALAPPDATA's folder, the install folders (the code's list is the data), then up
// to five cut from the first module path that is not empty.
TEST(ConfigRoots, LocalAppDataFixedThenUpToFiveDerived) {
    std::vector<std::string> expected = {"C:\\L\\CallofDuty4MW"};
    expected.insert(expected.end(), std::begin(CONFIG_FIXED_ROOTS), std::end(CONFIG_FIXED_ROOTS));
    for (const char* derived : {"E:\\a\\b\\c\\d\\e\\f", "E:\\a\\b\\c\\d\\e", "E:\\a\\b\\c\\d", "E:\\a\\b\\c",
                                "E:\\a\\b"})
        expected.push_back(derived);
    const std::vector<ModuleInfo> modules = {test::module(""), test::module("E:\\a\\b\\c\\d\\e\\f\\iw3mp.exe"),
                                             test::module("F:\\x\\y.dll")};
    EXPECT_EQ(buildConfigRoots("C:\\L", modules), expected);
}

TEST(ConfigCandidates, NamedProfileActiveListedThenPlayersAndMain) {
    const std::string p = "C:\\g\\players\\profiles\\", f = "\\config_mp.cfg";
    EXPECT_EQ(configCandidates("C:\\g", "Alice", {"active", "Bob"}),
              (std::vector<std::string>{p + "Alice" + f, p + "active" + f, p + "active" + f, p + "Bob" + f,
                                        "C:\\g\\players" + f, "C:\\g\\main" + f}));
}

// A file found is sent whole, an empty one is not (natively the backslashes are part of one file name).
TEST(ConfigUpload, FoundFilesAreSentWhenTheirSizeFits) {
    const std::string game = test::besideExe("cfg_game"), file = game + "\\main\\config_mp.cfg";
    test::UdpPeer server("127.0.0.1");
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port(), false));
    for (const std::string content : {"seta name \"Alice\"\r\n", ""}) {
        const std::string log = test::freshLog();
        test::writeFile(file, content);
        uploadPlayerConfig(client, {test::module(game + "\\iw3mp.exe")}, "");
        std::vector<std::uint8_t> sent;
        SockAddrIn from{};
        const bool any = server.receive(sent, from, 300);
        test::removePath(file);
        std::vector<std::string> lines = {"[CONFIG] Found: " + file};
        if (!content.empty()) lines.push_back("[CONFIG] Player config sent (19 bytes, 1 chunks)");
        EXPECT_EQ(test::logMessages(log), lines);
        ASSERT_EQ(any, !content.empty());
        EXPECT_EQ(any ? std::string(sent.end() - 19, sent.end()) : "", content);
    }
    test::freshLog();
    test::removePath(game);
}

}  // namespace
}  // namespace marvik
