#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "net/packets.h"
#include "net/udp_client.h"
#include "session/player_config.h"
#include "support/files.h"
#include "support/wire.h"

namespace marvik {
namespace {

ModuleInfo moduleAt(const std::string& path) {
    ModuleInfo m;
    m.path = path;
    return m;
}

// LOCALAPPDATA's folder when known, the four install folders (the list in
// the code is the data: not copied here), then up to five cut from the
// first module path that is not empty.
TEST(ConfigRoots, LocalAppDataFixedThenUpToFiveDerived) {
    const std::vector<std::string> fixed(std::begin(CONFIG_FIXED_ROOTS), std::end(CONFIG_FIXED_ROOTS));
    const struct {
        const char* localAppData;
        std::vector<ModuleInfo> modules;
        std::vector<std::string> derived;
    } cases[] = {
        {"C:\\L",
         {moduleAt(""), moduleAt("E:\\a\\b\\c\\d\\e\\f\\iw3mp.exe"), moduleAt("F:\\x\\y.dll")},
         {"E:\\a\\b\\c\\d\\e\\f", "E:\\a\\b\\c\\d\\e", "E:\\a\\b\\c\\d", "E:\\a\\b\\c", "E:\\a\\b"}},
        {nullptr, {moduleAt("E:\\Games\\CoD4\\iw3mp.exe")}, {"E:\\Games\\CoD4", "E:\\Games", "E:"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        if (c.localAppData != nullptr) expected.push_back("C:\\L\\CallofDuty4MW");
        expected.insert(expected.end(), fixed.begin(), fixed.end());
        expected.insert(expected.end(), c.derived.begin(), c.derived.end());
        EXPECT_EQ(buildConfigRoots(c.localAppData, c.modules), expected);
    }
}

TEST(ConfigCandidates, NamedProfileActiveListedThenPlayersAndMain) {
    const std::string p = "C:\\g\\players\\profiles\\", f = "\\config_mp.cfg";
    EXPECT_EQ(configCandidates("C:\\g", "Alice", {"active", "Bob"}),
              (std::vector<std::string>{p + "Alice" + f, p + "active" + f, p + "active" + f, p + "Bob" + f,
                                        "C:\\g\\players" + f, "C:\\g\\main" + f}));
}

// A file found is sent whole, an empty one is not. The game's folder is beside the tests
// (natively the backslashes are part of one file name).
TEST(ConfigUpload, FoundFilesAreSentWhenTheirSizeFits) {
    const std::string game = test::besideExe("cfg_game"), file = game + "\\main\\config_mp.cfg";
    test::UdpPeer server("127.0.0.1");
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port(), false));
    for (const std::string content : {"seta name \"Alice\"\r\n", ""}) {
        const std::string log = test::freshLog();
        test::writeFile(file, content);
        uploadPlayerConfig(client, {moduleAt(game + "\\iw3mp.exe")}, "");
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
