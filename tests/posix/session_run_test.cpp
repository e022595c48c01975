// Whole sessions natively: the real session, its workers and handshake,
// against a scripted game (the native build's game process) and the
// reference server's socket loop on loopback, with RC4 on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include <unistd.h>

#include "base/process_flags.h"
#include "checks/checks.h"
#include "support/scripted_game.h"
#include "posix/event_field.h"
#include "report/log.h"
#include "server_loop.h"
#include "session/session.h"
#include "support/files.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

struct Seen {
    Clock::time_point at;
    ServerEvent event;
};

long long msBetween(const Seen& a, const Seen& b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b.at - a.at).count();
}

// The reference server's loop on its own thread, keeping every event with
// the time it came.
struct RefServer {
    ServerLoopConfig cfg;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    ServerCounters counted;
    std::mutex mutex;
    std::vector<Seen> seen;
    std::thread loop;

    explicit RefServer(const ServerOptions& o) {
        std::string error;
        cfg.options = o;
        cfg.sock = openServerSocket("127.0.0.1", 0, port, error);
        cfg.onEvent = [this](const ServerEvent& e) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back({Clock::now(), e});
        };
        loop = std::thread([this] { counted = runServerLoop(cfg, stop); });
    }
    ~RefServer() {
        finish();
        ::close(cfg.sock);
    }
    ServerCounters finish() {
        stop = true;
        if (loop.joinable()) loop.join();
        return counted;
    }
    // Events of that name, or the packets sent of that name ("PKT_KICK").
    std::vector<Seen> of(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Seen> out;
        std::copy_if(seen.begin(), seen.end(), std::back_inserter(out), [&](const Seen& s) {
            return s.event.name == name || field(s.event.json, "packet") == name;
        });
        return out;
    }
};

class WholeSession : public ::testing::Test {
protected:
    void SetUp() override {
        test::freshLog();
        g_running = true;
        config.serverIP = "127.0.0.1";
        config.playerName = "Sniper";
        config.encryption = true;
        // The game's executable and its GUID file, as the Windows paths
        // the session builds name them here.
        test::writeFile(test::besideExe("sessgame/iw3mp.exe"), "not really a game");
        test::writeFile(test::besideExe("sessgame\\players\\guid.dat"), "0123456789abcdef\r\n");
    }
    void TearDown() override {
        g_running = true;
        editScriptedGame([](ScriptedGame& g) { g = ScriptedGame{}; });
        test::removePath(test::besideExe("sessgame"));
        test::removePath(test::besideExe("sessgame\\players\\guid.dat"));
        test::freshLog();
    }
    std::vector<std::string> logLines() const { return test::logMessages(test::besideExe("marvik_ac.log")); }
    std::size_t countLines(const std::string& line) const {
        const std::vector<std::string> lines = logLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    std::future<SessionEnd> startSession() {
        return std::async(std::launch::async, [this] { return runSession(config, "MARVIK-00000000-00000000"); });
    }
    Config config;
};

TEST_F(WholeSession, WorkersKeepTheirScheduleAcrossSessionsUntilAKickOrTheGameExits) {
    const std::string md5a(32, 'a'), md5b(32, 'b');
    const std::vector<ModuleInfo> atStart = {{"iw3mp.exe", "C:\\game\\iw3mp.exe", 1, 0x10001, false, md5a, ""},
                                             {"hack.dll", "C:\\game\\hack.dll", 2, 0x10002, true, md5a, "Test label"},
                                             {"temp.dll", "C:\\game\\temp.dll", 3, 0x10003, true, md5a, ""}};
    std::vector<ModuleInfo> later = atStart;
    later[1].crc32 = 22;  // the same modules as every scan after the first reads them
    editScriptedGame([&](ScriptedGame& g) {
        g.pid = 4242;
        g.imagePath = test::besideExe("sessgame/iw3mp.exe");
        g.modules = atStart;
        g.laterModules = later;
        g.processCount = 77;
        g.selfCrc = 0x1234;
        g.processHits = {{99, "trainer.exe", "", md5b, "Trainer"}};
        g.memoryHits = {{0x250000, 0x1000, "test region"}};
    });

    // Screenshot request at once; the kick after the memory scan's first
    // pass and before a fourth heartbeat.
    ServerOptions o;
    o.encryption = true, o.screenshotAfterSec = 0, o.kickAfterSec = 12;
    RefServer server(o);
    config.serverPort = server.port;
    // After the first heartbeat the client's own file changes and a
    // debugger shows up.
    std::thread changer([&] {
        for (int i = 0; i < 1000 && server.of("heartbeat").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        editScriptedGame([&](ScriptedGame& g) {
            g.selfCrc = 0x9999;
            g.debugger = true;
        });
    });

    std::future<SessionEnd> session = startSession();
    ASSERT_EQ(session.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the session did not end";
    const Seen returned{Clock::now(), {}};
    EXPECT_EQ(session.get(), SessionEnd::ENDED);
    changer.join();

    // Handshake, identity, baseline reports, then the first heartbeat at once
    // and one every 5 s; the commands on their timers.
    const std::vector<Seen> beats = server.of("heartbeat"), memory = server.of("memory_report");
    const Seen verified = server.of("PKT_VERIFY_OK").at(0), kick = server.of("PKT_KICK").at(0);
    ASSERT_GE(beats.size(), 3u);
    EXPECT_EQ(server.of("identity").size(), 1u);
    EXPECT_EQ(server.of("malformed").size(), 0u);
    const std::vector<Seen> lists = server.of("module_list");  // the baseline's, then the module scan's
    EXPECT_TRUE(lists.size() >= 2 && lists[0].event.complete && lists[1].event.complete);
    EXPECT_LE(msBetween(verified, beats[0]), 1000);
    for (std::size_t i = 1; i < beats.size(); ++i) {
        EXPECT_GE(msBetween(beats[i - 1], beats[i]), 4500) << i;
        EXPECT_LE(msBetween(beats[i - 1], beats[i]), 6000) << i;
    }
    EXPECT_EQ(countLines("[SCREENSHOT] Server requested screenshot"), 1u);
    EXPECT_TRUE(msBetween(verified, kick) >= 11900 && msBetween(verified, kick) <= 12500) << msBetween(verified, kick);
    // The memory scan's first pass waits 10 s; the kick stops the session
    // at once, then comes the teardown.
    ASSERT_EQ(memory.size(), 1u);
    EXPECT_GE(msBetween(verified, memory[0]), 9000);
    EXPECT_LE(msBetween(verified, memory[0]), 11500);
    EXPECT_LE(msBetween(kick, returned), 4500);

    // Heartbeats as the server decrypted them: the first clean, the later
    // ones with the debugger and the changed executable.
    const auto heartbeat = [](const Seen& b) {
        std::string text;
        for (const char* key : {"process_count", "debugger", "module_alert", "integrity_alert", "reserved", "self_crc"})
            text += field(b.event.json, key) + " ";
        return text;
    };
    EXPECT_EQ(heartbeat(beats[0]), "77 0 0 0 0 0x00001234 ");
    EXPECT_EQ(heartbeat(beats.back()), "77 1 0 1 0 0x00009999 ");
    EXPECT_GE(std::stoi(field(beats.back().event.json, "uptime_s")), 8);  // settle, handshake and two periods

    // Reactions, in their order, every cycle; none for the unlabelled module.
    const std::vector<std::string> lines = logLines();
    const std::string cheatDll = "[MD5] Cheat DLL detected: hack.dll [Test label] md5=" + md5a;
    EXPECT_EQ(countLines(cheatDll), beats.size());
    EXPECT_EQ(countLines("[MD5] Cheat process detected: trainer.exe [Trainer] PID=99 md5=" + md5b), 1u);
    EXPECT_EQ(countLines("[ALERT] Debugger detected!"), beats.size() - 1);
    EXPECT_EQ(countLines("[MEMSCAN] Found 1 suspicious memory regions!"), 1u);
    EXPECT_EQ(countLines("[GUID] Player GUID: 0123456789abcdef"), 1u);
    for (const std::string& l : lines) EXPECT_EQ(l.find("temp.dll"), std::string::npos) << l;
    const auto modified = std::find(lines.begin(), lines.end(), "[ALERT] AC binary has been modified!") - lines.begin();
    ASSERT_LE(modified + 4, static_cast<long>(lines.size()));
    EXPECT_EQ(std::vector<std::string>(lines.begin() + modified + 1, lines.begin() + modified + 4),
              (std::vector<std::string>{"[ALERT] Debugger detected!", "[ALERT] Tampering detected!", cheatDll}));

    EXPECT_EQ(g_gamePID.load(), 0u);

    // The next session, in which the game exits.
    std::future<SessionEnd> next = startSession();
    while (server.of("heartbeat").size() == beats.size() &&
           next.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    }
    editScriptedGame([](ScriptedGame& g) { g.status = GameStatus::EXITED; });
    ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(next.get(), SessionEnd::ENDED);
    // The loop counted every datagram that came (each made one event, a
    // finished report aside) and every reply.
    const ServerCounters counted = server.finish();
    std::size_t in = 0;
    for (const Seen& s : server.seen) in += s.event.name != "sent" && field(s.event.json, "complete").empty();
    EXPECT_EQ(std::to_string(counted.datagrams) + " in, " + std::to_string(counted.repliesSent) + " out",
              std::to_string(in) + " in, " + std::to_string(server.of("sent").size()) + " out");
    // The heartbeat or the game watch saw it first; either says so once.
    EXPECT_EQ(countLines("[GAME] Game has exited."), 1u);
    EXPECT_EQ(countLines("[AC] Session ending..."), 2u);
    // The running-process check keeps its 30 s from the last one, across sessions.
    EXPECT_EQ(scriptedGame().processScans.size(), 1u);

    // Every worker of both sessions has ended.
    for (int i = 0; i < 50 && g_liveWorkers.load() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g_liveWorkers.load(), 0);
}

// A check that hangs in a call into the game (a frozen game) holds no
// heartbeat back: they leave every 5 s with what is known, the hang is
// reported once it has lasted 10 s, and the check's finding arrives with
// the first heartbeat after it returns.
TEST_F(WholeSession, AHungCheckHoldsNoHeartbeatBackAndIsReported) {
    editScriptedGame([&](ScriptedGame& g) {
        g.pid = 4243;
        g.imagePath = test::besideExe("sessgame/iw3mp.exe");
        g.modules = {{"iw3mp.exe", "C:\\game\\iw3mp.exe", 1, 0x10001, false, std::string(32, 'a'), ""}};
        g.debugger = true;
        g.debuggerHangs = true;
    });
    ServerOptions o;
    o.encryption = true, o.kickAfterSec = 22;
    RefServer server(o);
    config.serverPort = server.port;
    std::future<SessionEnd> session = startSession();
    for (int i = 0; i < 1000 && server.of("memory_report").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::size_t beatsWhileHung = server.of("heartbeat").size();
    editScriptedGame([](ScriptedGame& g) { g.debuggerHangs = false; });
    ASSERT_EQ(session.wait_for(std::chrono::seconds(30)), std::future_status::ready);

    const std::vector<Seen> beats = server.of("heartbeat"), reports = server.of("memory_report");
    ASSERT_GE(beats.size(), 4u);
    for (std::size_t i = 1; i < beats.size(); ++i) {
        EXPECT_GE(msBetween(beats[i - 1], beats[i]), 4900) << i;
        EXPECT_LE(msBetween(beats[i - 1], beats[i]), 5300) << i;
    }
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(field(reports[0].event.json, "description").substr(0, 28), "Check stalled: debugger for ");
    EXPECT_GE(msBetween(beats[0], reports[0]), 9500);
    EXPECT_LE(msBetween(beats[0], reports[0]), 15500);
    for (std::size_t i = 0; i < beatsWhileHung; ++i) EXPECT_EQ(field(beats[i].event.json, "debugger"), "0") << i;
    EXPECT_EQ(field(beats.back().event.json, "debugger"), "1");
}

}  // namespace
}  // namespace marvik
