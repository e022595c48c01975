// A whole session natively, for what no other level shows: the real session
// and its workers against a scripted game and the reference server's socket
// loop on loopback, until the server kicks it. (Whole flows under Wine:
// tests/system.)
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "base/process_flags.h"
#include "checks/checks.h"
#include "server_loop.h"
#include "session/session.h"
#include "support/files.h"
#include "support/report_samples.h"
#include "support/scripted_game.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

using Seen = std::vector<std::pair<Clock::time_point, std::string>>;  // JSON lines with the time they came

// The reference server's loop on its own thread, keeping the heartbeats and
// memory reports.
struct RefServer {
    ServerLoopConfig cfg;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::map<std::string, Seen> seen;
    std::thread loop;

    explicit RefServer(const ServerOptions& o) {
        std::string error;
        cfg.options = o;
        cfg.sock = openServerSocket("127.0.0.1", 0, port, error);
        cfg.onEvent = [this](const ServerEvent& e) {
            std::lock_guard<std::mutex> lock(mutex);
            seen[e.name].emplace_back(Clock::now(), e.json);
        };
        loop = std::thread([this] { runServerLoop(cfg, stop); });
    }
    ~RefServer() {
        stop = true;
        loop.join();
        ::close(cfg.sock);
    }
    Seen of(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex);
        return seen[name];
    }
};

// A check that hangs in a call into the game (a frozen game) is reported
// once it has lasted 10 s, and its finding arrives with the first heartbeat
// after it returns; so does a change of the client's own file meanwhile.
// (That the heartbeats keep their period: hostile_game_test under Wine.)
TEST(WholeSession, AHungCheckIsReportedAndItsFindingArrivesWhenItReturns) {
    test::freshLog();
    g_running = true;
    test::writeFile(test::besideExe("sessgame/iw3mp.exe"), "not really a game");
    editScriptedGame([&](ScriptedGame& g) {
        g.pid = 4243;
        g.imagePath = test::besideExe("sessgame/iw3mp.exe");
        g.modules = {{"iw3mp.exe", "C:\\game\\iw3mp.exe", 1, 0x10001, false, std::string(32, 'a'), ""}};
        g.debugger = true;
        g.debuggerHangs = true;
        g.selfCrc = 0x1234;
    });
    ServerOptions o;
    o.encryption = true, o.kickAfterSec = 22;
    RefServer server(o);
    Config config;
    config.serverIP = "127.0.0.1";
    config.serverPort = server.port;
    config.encryption = true;
    std::future<SessionEnd> session =
        std::async(std::launch::async, [&] { return runSession(config, "MARVIK-00000000-00000000"); });
    for (int i = 0; i < 1000 && server.of("memory_report").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::size_t beatsWhileHung = server.of("heartbeat").size();
    editScriptedGame([](ScriptedGame& g) {
        g.debuggerHangs = false;
        g.selfCrc = 0x9999;
    });
    ASSERT_EQ(session.wait_for(std::chrono::seconds(30)), std::future_status::ready);

    const auto beats = server.of("heartbeat"), reports = server.of("memory_report");
    ASSERT_GE(beats.size(), 4u);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(field(reports[0].second, "description").substr(0, 28), "Check stalled: debugger for ");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(reports[0].first - beats[0].first).count();
    EXPECT_TRUE(ms >= 9500 && ms <= 15500) << ms;
    const auto flags = [](const std::string& json) {
        return field(json, "debugger") + field(json, "integrity_alert") + " " + field(json, "self_crc");
    };
    for (std::size_t i = 0; i < beatsWhileHung; ++i) EXPECT_EQ(flags(beats[i].second), "00 0x00001234") << i;
    EXPECT_EQ(flags(beats.back().second), "11 0x00009999");
    const std::vector<std::string> lines = test::logMessages(test::besideExe("marvik_ac.log"));
    for (const char* line : {"[ALERT] AC binary has been modified!", "[AC] Server kicked us!"})  // the kick ends it
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;

    editScriptedGame([](ScriptedGame& g) { g = ScriptedGame{}; });
    test::removePath(test::besideExe("sessgame"));
    test::freshLog();
}

}  // namespace
}  // namespace marvik
