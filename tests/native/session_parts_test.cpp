#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "net/packets.h"
#include "net/udp_client.h"
#include "session/player_config.h"
#include "support/files.h"
#include "support/udp_peer.h"

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
        {nullptr, {moduleAt("/games/cod4/iw3mp.exe")}, {"/games/cod4", "/games", ""}},
        {nullptr, {moduleAt("iw3mp.exe")}, {}},
        {nullptr, {}, {}},
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
    EXPECT_EQ(configCandidates("C:\\g", "", {}).front(), p + "active" + f);
}

// The whole search and upload against a peer standing in for the server,
// with the game at a path of the test's choosing (natively the backslashes
// are part of one file name beside the tests). The first candidate that
// opens is found; a file of 1 to 59 999 bytes is sent, a larger or empty one
// is not. A candidate is opened only by its full path: one of 259 characters
// is found, one of 260 skipped even when a file sits at its first 259.
TEST(ConfigUpload, FoundFilesAreSentWhenTheirSizeFitsCandidatesThatDoNotFitAreSkipped) {
    const std::string base = test::besideExe("cfg_game");
    const std::string fits = base + "\\" + std::string(240 - base.size() - 1, 'f');
    const std::string tooLong = fits + "f", main = "\\main\\config_mp.cfg", content = "seta name \"Alice\"\r\n";
    ASSERT_EQ((fits + main).size(), 259u);
    const std::string found = "[CONFIG] Found: " + fits + main;
    const struct {
        std::string folder, file, content;
        std::vector<std::string> lines;  // none: not found
    } cases[] = {
        {fits, fits + main, content, {found, "[CONFIG] Player config sent (19 bytes, 1 chunks)"}},
        {fits, fits + main, "", {found}},
        {fits, fits + main, std::string(60000, 'x'), {found}},
        {tooLong, (tooLong + main).substr(0, 259), content, {}},
    };
    test::removePath(base);
    test::UdpPeer server("127.0.0.1");
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port(), false));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.size());
        const std::string log = test::freshLog();
        test::writeFile(c.file, c.content);
        const std::vector<ModuleInfo> modules = {moduleAt(c.folder + "\\iw3mp.exe")};
        uploadPlayerConfig(client, modules, "");
        std::vector<std::vector<std::uint8_t>> sent;
        std::vector<std::uint8_t> datagram;
        for (SockAddrIn from{}; server.receive(datagram, from, 300);) sent.push_back(datagram);
        test::removePath(c.file);
        const std::size_t roots = buildConfigRoots(std::getenv("LOCALAPPDATA"), modules).size();
        const std::string notFound = "[CONFIG] config_mp.cfg not found (searched " + std::to_string(roots) + " roots)";
        EXPECT_EQ(test::logMessages(log), c.lines.empty() ? std::vector<std::string>{notFound} : c.lines);
        ASSERT_EQ(sent.size(), c.lines.size() == 2 ? 1u : 0u);
        if (sent.empty()) continue;
        EXPECT_EQ(sent[0][5], PKT_CONFIG_CHUNK);
        EXPECT_EQ(std::string(sent[0].end() - static_cast<std::ptrdiff_t>(content.size()), sent[0].end()), content);
    }
    test::freshLog();
    test::removePath(base);
}

}  // namespace
}  // namespace marvik
