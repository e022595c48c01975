#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "report/log.h"
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

TEST(ConfigRoots, LocalAppDataFixedThenUpToFiveDerived) {
    const std::vector<std::string> roots =
        buildConfigRoots("C:\\Users\\p\\AppData\\Local", {moduleAt(""), moduleAt("E:\\a\\b\\c\\d\\e\\f\\iw3mp.exe")});
    const std::vector<std::string> expected = {
        "C:\\Users\\p\\AppData\\Local\\CallofDuty4MW",
        "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Call of Duty 4",
        "C:\\Program Files\\Steam\\steamapps\\common\\Call of Duty 4",
        "D:\\Games\\Call of Duty 4",
        "D:\\CoD4",
        "E:\\a\\b\\c\\d\\e\\f",
        "E:\\a\\b\\c\\d\\e",
        "E:\\a\\b\\c\\d",
        "E:\\a\\b\\c",
        "E:\\a\\b",
    };
    EXPECT_EQ(roots, expected);
}

TEST(ConfigRoots, ShortPathsForwardSlashesAndNothingKnown) {
    EXPECT_EQ(buildConfigRoots(nullptr, {}).size(), 4u);
    std::vector<std::string> roots = buildConfigRoots(nullptr, {moduleAt("E:\\Games\\CoD4\\iw3mp.exe")});
    EXPECT_EQ(std::vector<std::string>(roots.begin() + 4, roots.end()),
              (std::vector<std::string>{"E:\\Games\\CoD4", "E:\\Games", "E:"}));
    roots = buildConfigRoots(nullptr, {moduleAt("/games/cod4/iw3mp.exe")});
    EXPECT_EQ(std::vector<std::string>(roots.begin() + 4, roots.end()),
              (std::vector<std::string>{"/games/cod4", "/games", ""}));
    EXPECT_EQ(buildConfigRoots(nullptr, {moduleAt("iw3mp.exe")}).size(), 4u);
}

TEST(ConfigCandidates, NamedProfileActiveListedThenPlayersAndMain) {
    const std::string r = "C:\\g";
    EXPECT_EQ(configCandidates(r, "Alice", {"active", "Bob"}),
              (std::vector<std::string>{"C:\\g\\players\\profiles\\Alice\\config_mp.cfg",
                                        "C:\\g\\players\\profiles\\active\\config_mp.cfg",
                                        "C:\\g\\players\\profiles\\active\\config_mp.cfg",
                                        "C:\\g\\players\\profiles\\Bob\\config_mp.cfg",
                                        "C:\\g\\players\\config_mp.cfg", "C:\\g\\main\\config_mp.cfg"}));
    EXPECT_EQ(configCandidates(r, "", {}).front(), "C:\\g\\players\\profiles\\active\\config_mp.cfg");
    EXPECT_EQ(configCandidates(r, "", {}).size(), 3u);
}

// The whole search and upload against a peer standing in for the server,
// with the game at a path of the test's choosing.
class ConfigUpload : public ::testing::Test {
protected:
    void SetUp() override {
        test::freshLog();
        test::removePath(base);
        savedName = g_playerName;
        g_playerName.clear();
        ASSERT_TRUE(client.open("127.0.0.1", server.port(), false));
    }
    void TearDown() override {
        test::freshLog();
        g_playerName = savedName;
        // Natively the backslashes are part of one file name beside the tests.
        for (const std::string& file : written) test::removePath(file);
        test::removePath(base);
    }
    void put(const std::string& path, const std::string& content) {
        written.push_back(path);
        test::writeFile(path, content);
    }
    // Runs the step for a game at folder\iw3mp.exe; the datagrams the
    // server got.
    std::vector<std::vector<std::uint8_t>> upload(const std::string& folder) {
        modules = {moduleAt(folder + "\\iw3mp.exe")};
        uploadPlayerConfig(client, modules);
        std::vector<std::vector<std::uint8_t>> got;
        std::vector<std::uint8_t> datagram;
        SockAddrIn from{};
        while (server.receive(datagram, from, 300)) got.push_back(datagram);
        return got;
    }
    std::vector<std::string> logLines() const { return test::logMessages(log); }
    // A folder below base whose full path is length characters long.
    std::string folderOfLength(std::size_t length) const { return base + "\\" + std::string(length - base.size() - 1, 'f'); }
    std::string notFound() const {
        return "[CONFIG] config_mp.cfg not found (searched " +
               std::to_string(buildConfigRoots(std::getenv("LOCALAPPDATA"), modules).size()) + " roots)";
    }

    std::string log = test::besideExe("marvik_ac.log");
    std::string base = test::besideExe("cfg_game");
    std::string savedName;
    std::vector<ModuleInfo> modules;
    std::vector<std::string> written;
    test::UdpPeer server{"127.0.0.1"};
    UDPClient client;
};

// A file of no bytes, or of more than a configuration upload carries, is
// found and not sent.
TEST_F(ConfigUpload, EmptyOrTooLargeFileLogsOnlyFoundAndSendsNothing) {
    const std::string file = base + "\\main\\config_mp.cfg";
    for (std::size_t size : {0, 60000}) {
        test::freshLog();
        put(file, std::string(size, 'x'));
        EXPECT_TRUE(upload(base).empty()) << size;
        EXPECT_EQ(logLines(), std::vector<std::string>{"[CONFIG] Found: " + file}) << size;
    }
}

// A candidate is opened only by its full path: one of 259 characters is
// found; one of 260 is skipped even when a file sits at its first 259.
TEST_F(ConfigUpload, CandidatesThatDoNotFitAreSkippedNotCut) {
    const std::string fits = folderOfLength(259 - 19) + "\\main\\config_mp.cfg";
    ASSERT_EQ(fits.size(), 259u);
    const std::string content = "seta name \"Alice\"\r\n";
    put(fits, content);
    std::vector<std::vector<std::uint8_t>> sent = upload(folderOfLength(259 - 19));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][5], PKT_CONFIG_CHUNK);
    EXPECT_EQ(sent[0].size(), AC_HEADER_SIZE + sizeof(ConfigChunkHeader) + content.size());
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "[CONFIG] Found: " + fits,
                              "[CONFIG] Player config sent (" + std::to_string(content.size()) + " bytes, 1 chunks)"}));

    const std::string tooLong = folderOfLength(260 - 19) + "\\main\\config_mp.cfg";
    put(tooLong.substr(0, 259), "seta name \"Mallory\"\r\n");
    EXPECT_TRUE(upload(folderOfLength(260 - 19)).empty());
    EXPECT_EQ(logLines().back(), notFound());
    EXPECT_EQ(logLines().size(), 3u);
}

}  // namespace
}  // namespace marvik
