// The real session and its workers against a scripted game and the reference server, until a kick.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <thread>

#include <unistd.h>

#include "base/process_flags.h"
#include "server_loop.h"
#include "session/session.h"
#include "session/session_link.h"
#include "support/files.h"
#include "support/report_samples.h"
#include "support/scripted_game.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

bool logged(const std::string& start) {
    const std::vector<std::string> lines = logMessages(besideExe("marvik_ac.log"));
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

// A check hung in a call into a frozen game is reported once it has lasted 10 s, and its finding arrives
// with the first heartbeat after it returns; so does a change of the client's own file meanwhile.
// (That the heartbeats keep their period: hostile_game_test under Wine.)
TEST(WholeSession, AHungCheckIsReportedAndItsFindingArrivesWhenItReturns) {
    freshLog();
    g_running = true;
    writeFile(besideExe("sessgame/iw3mp.exe"), "not really a game");
    editScriptedGame([&](ScriptedGame& g) {
        g.pid = 4243;
        g.imagePath = besideExe("sessgame/iw3mp.exe");
        g.modules = {{"iw3mp.exe", "C:\\game\\iw3mp.exe", 1, 0x10001, false, std::string(32, 'a'), ""}};
        g.debugger = true;
        g.debuggerHangs = true;
        g.selfCrc = 0x1234;
    });
    // The reference server's loop on its own thread, keeping the JSON line
    // of each event with the time it came.
    ServerLoopConfig server;
    server.options.encryption = true, server.options.kickAfterSec = 22;
    std::uint16_t port = 0;
    std::string error;
    server.sock = openServerSocket("127.0.0.1", 0, port, error);
    std::map<std::string, std::vector<std::pair<Clock::time_point, std::string>>> seen;
    server.onEvent = [&seen](const ServerEvent& e) { seen[e.name].emplace_back(Clock::now(), e.json); };
    std::atomic<bool> stop{false};
    std::thread loop([&] { runServerLoop(server, stop); });

    Config config;
    config.serverIP = "127.0.0.1", config.serverPort = port, config.encryption = true;
    std::future<SessionEnd> session =
        std::async(std::launch::async, [&] { return runSession(config, "MARVIK-00000000-00000000"); });
    for (int i = 0; i < 1000 && !logged("[ALERT] Check stalled: debugger for "); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    editScriptedGame([](ScriptedGame& g) {
        g.debuggerHangs = false;
        g.selfCrc = 0x9999;
    });
    const bool ended = session.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended) requestProgramStop();  // a session the kick did not end: the test must still end
    stop = true;
    loop.join();
    ::close(server.sock);
    ASSERT_TRUE(ended);

    const auto &beats = seen["heartbeat"], &reports = seen["memory_report"];
    ASSERT_GE(beats.size(), 4u);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(field(reports[0].second, "description").substr(0, 28), "Check stalled: debugger for ");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(reports[0].first - beats[0].first).count();
    EXPECT_TRUE(ms >= 9500 && ms <= 15500) << ms;
    const auto flags = [](const std::string& json) {
        return field(json, "debugger") + field(json, "integrity_alert") + " " + field(json, "self_crc");
    };
    for (std::size_t i = 0; i < beats.size() && beats[i].first < reports[0].first; ++i)
        EXPECT_EQ(flags(beats[i].second), "00 0x00001234") << i;
    EXPECT_EQ(flags(beats.back().second), "11 0x00009999");
    EXPECT_TRUE(logged("[ALERT] AC binary has been modified!"));
    EXPECT_TRUE(logged("[AC] Server kicked us!"));  // which ends the session
    EXPECT_TRUE(seen["identity"].empty());          // the game has no GUID to report

    editScriptedGame([](ScriptedGame& g) { g = ScriptedGame{}; });
    removePath(besideExe("sessgame"));
    freshLog();
}

}  // namespace
}  // namespace marvik
