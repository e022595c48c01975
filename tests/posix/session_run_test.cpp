// Whole sessions natively: the real session, its workers and handshake,
// against a scripted game (the native build's game process) and a scripted
// server peer on loopback. What took a Wine system test to see breaks here
// in seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include "app/globals.h"
#include "checks/checks.h"
#include "inventory/game_process_posix.h"
#include "net/packets.h"
#include "report/log.h"
#include "session/session.h"
#include "support/files.h"
#include "support/udp_peer.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

struct Received {
    Clock::time_point at;
    Bytes bytes;
    std::uint8_t type() const { return bytes[5]; }
};

// The server plug-in's side: challenges every hello, verifies every answer,
// and kicks the session once kickWhen says so.
struct ScriptedPlugin {
    test::UdpPeer peer{"127.0.0.1"};
    std::mutex mutex;
    std::vector<Received> got;
    std::function<bool(const std::vector<Received>&)> kickWhen;
    Clock::time_point verifiedAt;
    std::atomic<bool> done{false};

    void serve(Clock::time_point until) {
        SockAddrIn client{};
        bool kicked = false;
        while (!done && Clock::now() < until) {
            Bytes d;
            SockAddrIn from{};
            if (!peer.receive(d, from, 200)) continue;
            if (d.size() < AC_HEADER_SIZE) continue;
            std::lock_guard<std::mutex> lock(mutex);
            got.push_back({Clock::now(), d});
            client = from;
            if (d[5] == PKT_HELLO) {
                kicked = false;
                peer.sendTo(datagram(PKT_CHALLENGE, Bytes(32)), from);
            } else if (d[5] == PKT_CHALLENGE_RESPONSE) {
                verifiedAt = Clock::now();
                peer.sendTo(datagram(PKT_VERIFY_OK), from);
            } else if (!kicked && kickWhen && kickWhen(got)) {
                kicked = true;
                peer.sendTo(datagram(PKT_KICK), client);
            }
        }
    }
    std::vector<Received> of(std::uint8_t type) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Received> out;
        for (const Received& r : got)
            if (r.type() == type) out.push_back(r);
        return out;
    }
};

long long msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

ModuleInfo module(const char* name, std::uint32_t crc, bool suspicious = false, const char* detection = "") {
    ModuleInfo m;
    m.name = name;
    m.path = std::string("C:\\game\\") + name;
    m.crc32 = crc;
    m.size = 0x10000 + crc;
    m.md5 = std::string(32, 'a');
    m.suspicious = suspicious;
    m.detection = detection;
    return m;
}

class WholeSession : public ::testing::Test {
protected:
    void SetUp() override {
        test::freshLog();
        g_running = true;
        g_serverIP = "127.0.0.1";
        g_playerName = "Sniper";
        g_encryption = false;
        g_autoStart = true;
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
    std::vector<std::string> logLines() const { return test::logMessages(logPath); }
    std::size_t countLines(const std::string& line) const {
        std::size_t n = 0;
        for (const std::string& l : logLines()) n += l == line;
        return n;
    }
    std::string logPath = test::besideExe("marvik_ac.log");
};

TEST_F(WholeSession, WorkersKeepTheirScheduleAcrossSessionsUntilTheGameExitsOrTheProgramStops) {
    const std::vector<ModuleInfo> atStart = {module("iw3mp.exe", 1), module("hack.dll", 2, true, "Test label"),
                                             module("temp.dll", 3, true, "")};
    std::vector<ModuleInfo> later = atStart;
    later[1].crc32 = 22;  // the same modules as every scan after the first reads them
    editScriptedGame([&](ScriptedGame& g) {
        g.pid = 4242;
        g.imagePath = test::besideExe("sessgame/iw3mp.exe");
        g.modules = atStart;
        g.laterModules = later;
        g.processCount = 77;
        g.selfCrc = 0x1234;
        ProcessMD5Hit hit;
        hit.pid = 99;
        hit.name = "trainer.exe";
        hit.md5 = std::string(32, 'b');
        hit.detection = "Trainer";
        g.processHits = {hit};
        MemoryScanHit mem;
        mem.address = 0x250000;
        mem.size = 0x1000;
        mem.description = "test region";
        g.memoryHits = {mem};
    });

    ScriptedPlugin plugin;
    g_serverPort = plugin.peer.port();
    // Kick once the memory report came.
    plugin.kickWhen = [](const std::vector<Received>& got) {
        for (const Received& r : got)
            if (r.type() == PKT_MEMORY_REPORT) return true;
        return false;
    };
    std::thread server([&] { plugin.serve(Clock::now() + std::chrono::seconds(40)); });

    // After the first heartbeat the client's own file changes and a
    // debugger shows up.
    std::thread changer([&] {
        const Clock::time_point give = Clock::now() + std::chrono::seconds(20);
        while (plugin.of(PKT_HEARTBEAT).empty() && Clock::now() < give)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        editScriptedGame([&](ScriptedGame& g) {
            g.selfCrc = 0x9999;
            g.debugger = true;
        });
    });

    std::future<int> session = std::async(std::launch::async, [] { return runSession("MARVIK-00000000-00000000"); });
    ASSERT_EQ(session.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the session did not end";
    const Clock::time_point returned = Clock::now();
    EXPECT_EQ(session.get(), SESSION_ENDED);
    changer.join();

    // Handshake, identity, baseline reports, then the first heartbeat at once.
    const std::vector<Received> beats = plugin.of(PKT_HEARTBEAT);
    ASSERT_GE(beats.size(), 3u);
    EXPECT_EQ(plugin.of(PKT_IDENTITY).size(), 1u);
    EXPECT_GE(plugin.of(PKT_MODULE_LIST).size(), 2u);  // the baseline's, then the module scan's
    EXPECT_LE(msBetween(plugin.verifiedAt, beats[0].at), 1000);
    for (std::size_t i = 1; i < beats.size(); ++i) {
        EXPECT_GE(msBetween(beats[i - 1].at, beats[i].at), 4500) << i;
        EXPECT_LE(msBetween(beats[i - 1].at, beats[i].at), 6000) << i;
    }
    // The memory scan's first pass waits 10 s.
    const std::vector<Received> memory = plugin.of(PKT_MEMORY_REPORT);
    ASSERT_EQ(memory.size(), 1u);
    EXPECT_GE(msBetween(plugin.verifiedAt, memory[0].at), 9000);
    EXPECT_LE(msBetween(plugin.verifiedAt, memory[0].at), 11500);
    // The kick ends the session within the game watch's 3 s and a teardown.
    EXPECT_LE(msBetween(memory[0].at, returned), 4500);

    // Heartbeat payloads: the first clean, the later ones with the debugger
    // and the changed executable.
    const Bytes& first = beats[0].bytes;
    EXPECT_EQ(loadLe32(&first[12 + 4]), 77u);
    EXPECT_EQ((std::vector<int>{first[20], first[21], first[22], first[23]}), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(loadLe32(&first[24]), 0x1234u);
    const Bytes& last = beats.back().bytes;
    EXPECT_EQ((std::vector<int>{last[20], last[21], last[22]}), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(loadLe32(&last[24]), 0x9999u);
    EXPECT_GE(loadLe32(&last[28]), 8u);  // uptime: settle, handshake and two periods at least

    // Reactions, in their order, every cycle; none for the unlabelled module.
    const std::vector<std::string> lines = logLines();
    const std::string cheatDll = "[MD5] Cheat DLL detected: hack.dll [Test label] md5=" + std::string(32, 'a');
    EXPECT_EQ(countLines(cheatDll), beats.size());
    EXPECT_EQ(countLines("[MD5] Cheat process detected: trainer.exe [Trainer] PID=99 md5=" + std::string(32, 'b')), 1u);
    EXPECT_EQ(countLines("[ALERT] Debugger detected!"), beats.size() - 1);
    for (const std::string& l : lines) EXPECT_EQ(l.find("temp.dll"), std::string::npos) << l;
    auto at = [&](const std::string& line) {
        auto it = std::find(lines.begin(), lines.end(), line);
        return static_cast<long>(it - lines.begin());
    };
    const long modified = at("[ALERT] AC binary has been modified!");
    ASSERT_LT(modified, static_cast<long>(lines.size()));
    EXPECT_EQ(lines[modified + 1], "[ALERT] Debugger detected!");
    EXPECT_EQ(lines[modified + 2], "[ALERT] Tampering detected!");
    EXPECT_EQ(lines[modified + 3], cheatDll);
    EXPECT_EQ(countLines("[MEMSCAN] Found 1 suspicious memory regions!"), 1u);
    EXPECT_EQ(countLines("[GUID] Player GUID: 0123456789abcdef"), 1u);

    // The module scan's report became the baseline, field by field.
    const std::vector<ModuleInfo> baseline = baselineModulesCopy();
    const auto fields = [](const ModuleInfo& m) {
        return std::make_tuple(m.name, m.path, m.crc32, m.size, m.suspicious, m.md5, m.detection);
    };
    ASSERT_EQ(baseline.size(), later.size());
    for (std::size_t i = 0; i < later.size(); ++i) EXPECT_EQ(fields(baseline[i]), fields(later[i])) << i;
    EXPECT_EQ(g_gamePID.load(), 0u);

    // The next session, at once: its heartbeats run, but the running-process
    // check keeps its 30 s from the last one, across sessions.
    const std::size_t beatsBefore = plugin.of(PKT_HEARTBEAT).size();
    plugin.kickWhen = [beatsBefore](const std::vector<Received>& got) {
        std::size_t n = 0;
        for (const Received& r : got) n += r.type() == PKT_HEARTBEAT;
        return n >= beatsBefore + 1;
    };
    std::future<int> next = std::async(std::launch::async, [] { return runSession("MARVIK-00000000-00000000"); });
    ASSERT_EQ(next.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(next.get(), SESSION_ENDED);
    EXPECT_GT(plugin.of(PKT_HEARTBEAT).size(), beatsBefore);
    EXPECT_EQ(scriptedGame().processScans.size(), 1u);
    plugin.done = true;
    server.join();

    // A third session, in which the game exits.
    plugin.kickWhen = nullptr;
    plugin.done = false;
    server = std::thread([&] { plugin.serve(Clock::now() + std::chrono::seconds(15)); });
    const std::size_t beatsBeforeExit = plugin.of(PKT_HEARTBEAT).size();
    std::future<int> session3 = std::async(std::launch::async, [] { return runSession("MARVIK-00000000-00000000"); });
    while (plugin.of(PKT_HEARTBEAT).size() == beatsBeforeExit &&
           session3.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    }
    editScriptedGame([](ScriptedGame& g) { g.status = GameStatus::EXITED; });
    ASSERT_EQ(session3.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(session3.get(), SESSION_ENDED);
    plugin.done = true;
    server.join();
    // The heartbeat or the game watch saw it first; either says so once.
    EXPECT_EQ(countLines("[GAME] Game has exited."), 1u);
    EXPECT_EQ(countLines("[AC] Session ending..."), 3u);

    // No game: the session waits until the program stops.
    editScriptedGame([](ScriptedGame& g) { g.pid = 0; });
    std::future<int> waiting = std::async(std::launch::async, [] { return runSession("MARVIK-00000000-00000000"); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    g_running = false;
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(4)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), SESSION_STOPPED);
    EXPECT_EQ(logLines().back(), "[ERROR] Could not find game process.");
    // Every worker of every session has ended.
    for (int i = 0; i < 50 && g_liveWorkers.load() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g_liveWorkers.load(), 0);
}

}  // namespace
}  // namespace marvik
