#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/globals.h"
#include "net/packets.h"
#include "net/server_listener.h"
#include "net/udp_client.h"
#include "session/player_config.h"
#include "session/session_stop.h"
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

TEST(SessionStop, SleepRunsItsTimeOrEndsAtTheSignal) {
    sessionStopReset();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(sessionSleep(50));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(45));

    std::atomic<bool> woke{false};
    std::thread sleeper([&] { woke = !sessionSleep(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    t0 = std::chrono::steady_clock::now();
    sessionStopSignal();
    sleeper.join();
    EXPECT_TRUE(woke);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    // Once signalled, later sleeps return at once until the next session.
    EXPECT_FALSE(sessionSleep(60000));
    EXPECT_TRUE(sessionStopped());
    sessionStopReset();
    EXPECT_FALSE(sessionStopped());
}

std::vector<std::uint8_t> command(std::uint8_t type, std::uint32_t magic = AC_PACKET_MAGIC) {
    std::vector<std::uint8_t> d(AC_HEADER_SIZE, 0);
    putLeU32(d.data(), magic);
    d[4] = AC_PROTOCOL_VERSION;
    d[5] = type;
    return d;
}

class Listener : public ::testing::Test {
protected:
    void SetUp() override {
        path = test::freshLog();
        g_running = true;
        g_sessionActive = true;
        sessionStopReset();
    }
    void TearDown() override { test::freshLog(); }
    std::string path;
};

TEST_F(Listener, CommandsLoggedStraysIgnoredKickEnds) {
    test::UdpPeer server("127.0.0.1");
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port(), false));
    // The client's address: from a first packet it sends.
    client.sendPacket(PKT_HEARTBEAT, nullptr, 20);
    std::vector<std::uint8_t> got;
    SockAddrIn clientAddr{};
    ASSERT_TRUE(server.receive(got, clientAddr));

    std::thread listener([&] { serverListenLoop(client); });
    const int types[] = {PKT_SCREENSHOT_REQUEST, PKT_UPDATE_AVAILABLE, PKT_UPDATE_AVAILABLE, 99, PKT_VERIFY_OK};
    for (int type : types)
        server.sendTo(command(static_cast<std::uint8_t>(type)), clientAddr);
    server.sendTo(command(PKT_KICK, 0x12345678), clientAddr);  // wrong magic
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(g_sessionActive.load());
    server.sendTo(command(PKT_KICK), clientAddr);
    listener.join();
    EXPECT_FALSE(g_sessionActive.load());

    const std::string log = test::readFile(path);
    auto count = [&](const std::string& s) {
        std::size_t n = 0;
        for (std::size_t at = log.find(s); at != std::string::npos; at = log.find(s, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("[SCREENSHOT] Server requested screenshot"), 1u);
    EXPECT_EQ(count("[UPDATE] Update available from server"), 2u);
    EXPECT_EQ(count("[AC] Server kicked us!"), 1u);
    EXPECT_EQ(count("] ["), 4u) << log;  // nothing for type 99, the late verdict or the bad magic
    // Nothing was sent back.
    EXPECT_FALSE(server.receive(got, clientAddr, 200));
}

TEST_F(Listener, EndsWhenTheFlagsDropOrTheClientStops) {
    test::UdpPeer server("127.0.0.1");
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port(), false));
    g_sessionActive = false;
    serverListenLoop(client);  // returns before any receive

    g_sessionActive = true;
    std::thread listener([&] { serverListenLoop(client); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto t0 = std::chrono::steady_clock::now();
    sessionStopSignal();
    client.stop();
    listener.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(g_sessionActive.load());
}

}  // namespace
}  // namespace marvik
