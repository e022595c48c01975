// Whole sessions natively: the real session, its workers and handshake,
// against a scripted game (the native build's game process) and a scripted
// server peer on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
};

long long msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

// The server plug-in's side: challenges every hello, verifies every answer,
// and kicks the session once kickWhen says so.
struct ScriptedPlugin {
    test::UdpPeer peer{"127.0.0.1"};
    std::mutex mutex;
    std::vector<Received> got;
    std::function<bool()> kickWhen;
    Clock::time_point verifiedAt;
    std::atomic<bool> done{false};

    void serve(int seconds) {
        const Clock::time_point until = Clock::now() + std::chrono::seconds(seconds);
        bool kicked = false;
        while (!done && Clock::now() < until) {
            Bytes d;
            SockAddrIn from{};
            if (!peer.receive(d, from, 200) || d.size() < AC_HEADER_SIZE) continue;
            std::lock_guard<std::mutex> lock(mutex);
            got.push_back({Clock::now(), d});
            if (d[5] == PKT_HELLO) {
                kicked = false;
                peer.sendTo(datagram(PKT_CHALLENGE, Bytes(32)), from);
            } else if (d[5] == PKT_CHALLENGE_RESPONSE) {
                verifiedAt = Clock::now();
                peer.sendTo(datagram(PKT_VERIFY_OK), from);
            } else if (!kicked && kickWhen && kickWhen()) {
                kicked = true;
                peer.sendTo(datagram(PKT_KICK), from);
            }
        }
    }
    std::vector<Received> of(std::uint8_t type) {  // the caller holds the lock, or serve has ended
        std::vector<Received> out;
        std::copy_if(got.begin(), got.end(), std::back_inserter(out), [&](const Received& r) { return r.bytes[5] == type; });
        return out;
    }
    std::size_t count(std::uint8_t type) {
        std::lock_guard<std::mutex> lock(mutex);
        return of(type).size();
    }
};

class WholeSession : public ::testing::Test {
protected:
    void SetUp() override {
        test::freshLog();
        g_running = true;
        g_serverIP = "127.0.0.1";
        g_playerName = "Sniper";
        g_encryption = false;
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
    static std::future<int> startSession() {
        return std::async(std::launch::async, [] { return runSession("MARVIK-00000000-00000000"); });
    }
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

    ScriptedPlugin plugin;
    g_serverPort = plugin.peer.port();
    plugin.kickWhen = [&] { return !plugin.of(PKT_MEMORY_REPORT).empty(); };
    std::thread server([&] { plugin.serve(60); });
    // After the first heartbeat the client's own file changes and a
    // debugger shows up.
    std::thread changer([&] {
        for (int i = 0; i < 1000 && plugin.count(PKT_HEARTBEAT) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        editScriptedGame([&](ScriptedGame& g) {
            g.selfCrc = 0x9999;
            g.debugger = true;
        });
    });

    std::future<int> session = startSession();
    ASSERT_EQ(session.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the session did not end";
    const Clock::time_point returned = Clock::now();
    EXPECT_EQ(session.get(), SESSION_ENDED);
    changer.join();

    // Handshake, identity, baseline reports, then the first heartbeat at once
    // and one every 5 s.
    std::unique_lock<std::mutex> lock(plugin.mutex);
    const std::vector<Received> beats = plugin.of(PKT_HEARTBEAT), memory = plugin.of(PKT_MEMORY_REPORT);
    ASSERT_GE(beats.size(), 3u);
    EXPECT_EQ(plugin.of(PKT_IDENTITY).size(), 1u);
    EXPECT_GE(plugin.of(PKT_MODULE_LIST).size(), 2u);  // the baseline's, then the module scan's
    EXPECT_LE(msBetween(plugin.verifiedAt, beats[0].at), 1000);
    for (std::size_t i = 1; i < beats.size(); ++i) {
        EXPECT_GE(msBetween(beats[i - 1].at, beats[i].at), 4500) << i;
        EXPECT_LE(msBetween(beats[i - 1].at, beats[i].at), 6000) << i;
    }
    // The memory scan's first pass waits 10 s; the kick ends the session
    // within the game watch's 3 s and a teardown.
    ASSERT_EQ(memory.size(), 1u);
    EXPECT_GE(msBetween(plugin.verifiedAt, memory[0].at), 9000);
    EXPECT_LE(msBetween(plugin.verifiedAt, memory[0].at), 11500);
    EXPECT_LE(msBetween(memory[0].at, returned), 4500);
    lock.unlock();

    // Heartbeat payloads (tick, processes, debugger, module, integrity,
    // reserved, self value, uptime): the first clean, the later ones with
    // the debugger and the changed executable.
    const Bytes& first = beats[0].bytes;
    const Bytes& last = beats.back().bytes;
    EXPECT_EQ(loadLe32(&first[16]), 77u);
    EXPECT_EQ(Bytes(first.begin() + 20, first.begin() + 24), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(loadLe32(&first[24]), 0x1234u);
    EXPECT_EQ(Bytes(last.begin() + 20, last.begin() + 23), (Bytes{1, 0, 1}));
    EXPECT_EQ(loadLe32(&last[24]), 0x9999u);
    EXPECT_GE(loadLe32(&last[28]), 8u);  // uptime: settle, handshake and two periods at least

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

    // The module scan's report became the baseline, field by field.
    const auto fields = [](const ModuleInfo& m) {
        return std::make_tuple(m.name, m.path, m.crc32, m.size, m.suspicious, m.md5, m.detection);
    };
    const std::vector<ModuleInfo> baseline = baselineModulesCopy();
    ASSERT_EQ(baseline.size(), later.size());
    for (std::size_t i = 0; i < later.size(); ++i) EXPECT_EQ(fields(baseline[i]), fields(later[i])) << i;
    EXPECT_EQ(g_gamePID.load(), 0u);

    // The next session, in which the game exits.
    lock.lock();
    plugin.kickWhen = nullptr;
    lock.unlock();
    std::future<int> next = startSession();
    while (plugin.count(PKT_HEARTBEAT) == beats.size() &&
           next.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    }
    editScriptedGame([](ScriptedGame& g) { g.status = GameStatus::EXITED; });
    ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(next.get(), SESSION_ENDED);
    plugin.done = true;
    server.join();
    // The heartbeat or the game watch saw it first; either says so once.
    EXPECT_EQ(countLines("[GAME] Game has exited."), 1u);
    EXPECT_EQ(countLines("[AC] Session ending..."), 2u);
    // The running-process check keeps its 30 s from the last one, across sessions.
    EXPECT_EQ(scriptedGame().processScans.size(), 1u);

    // Every worker of both sessions has ended.
    for (int i = 0; i < 50 && g_liveWorkers.load() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g_liveWorkers.load(), 0);
}

}  // namespace
}  // namespace marvik
