// The session's own rules: its stop signal and its workers' link, the
// listener, the identity report and the handshake's paths against a scripted
// peer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "base/process_flags.h"
#include "net/packets.h"
#include "net/server_listener.h"
#include "net/udp_client.h"
#include "session/handshake.h"
#include "session/session_link.h"
#include "support/files.h"
#include "support/udp_peer.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

// Once stopped, nothing more is done in a session's name: no pause, no
// step; the next session's link is its own. (A pause woken by
// the stop: the whole-session test and the handshake's stop case.)
TEST(SessionLink, AStoppedSessionDoesNothingMoreWhileTheNextGoesOn) {
    g_running = true;
    SessionLink link, next;
    stopSession(link);
    EXPECT_FALSE(sessionSleep(link, 60000));
    EXPECT_FALSE(sessionGoesOn(link));
    EXPECT_TRUE(sessionGoesOn(next));
}

// A fresh log beside the test executable, and the program's flags as a
// session sees them.
class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        test::freshLog();
        g_running = true;
        g_verified = false;
    }
    void TearDown() override {
        g_running = true;
        test::freshLog();
    }
    std::vector<std::string> lines() const { return test::logMessages(test::besideExe("marvik_ac.log")); }
    // A session's link with facts, open towards peer; with from, after a
    // first datagram that tells the peer the client's address.
    static std::shared_ptr<SessionLink> linkTo(const test::UdpPeer& peer, SockAddrIn* from = nullptr,
                                               const SessionFacts& facts = sessionFacts()) {
        auto link = std::make_shared<SessionLink>(facts);
        EXPECT_TRUE(link->client.open("127.0.0.1", peer.port(), false));
        if (from != nullptr) {
            link->client.sendPacket(PKT_HEARTBEAT, nullptr, 20);
            Bytes got;
            EXPECT_TRUE(peer.receive(got, *from));
        }
        return link;
    }
    static SessionFacts sessionFacts() {
        SessionFacts facts;
        facts.config.playerName = "Sniper";
        facts.hwid = "MARVIK-1234ABCD-8D9E785A";
        facts.gameCrc = 0xCAFEF00D;
        facts.selfCrc = 0x11223344;
        return facts;
    }
    const SessionFacts facts = sessionFacts();
};

using Listener = SessionFixture;

// Commands are logged, strays ignored, nothing is sent back; a kick ends the
// listener and the session. (The session's stop ending it: the stop during
// the handshake and the bounded teardown of the system tests.)
TEST_F(Listener, CommandsLoggedStraysIgnoredAndAKickOrTheStopEndsIt) {
    test::UdpPeer server("127.0.0.1");
    SockAddrIn client{};
    auto link = linkTo(server, &client);
    std::thread listener([&] { serverListenThread(*link); });
    const std::uint8_t types[] = {PKT_SCREENSHOT_REQUEST, PKT_UPDATE_AVAILABLE, PKT_UPDATE_AVAILABLE, 99, PKT_VERIFY_OK};
    for (std::uint8_t type : types) server.sendTo(datagram(type), client);
    server.sendTo(datagram(PKT_KICK, {}, 0x12345678), client);  // wrong magic
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(sessionStopped(*link));
    Bytes got;
    EXPECT_FALSE(server.receive(got, client, 200));
    server.sendTo(datagram(PKT_KICK), client);
    listener.join();
    EXPECT_TRUE(sessionStopped(*link));
    EXPECT_EQ(lines(), (std::vector<std::string>{"[SCREENSHOT] Server requested screenshot",
                                                 "[UPDATE] Update available from server",
                                                 "[UPDATE] Update available from server", "[AC] Server kicked us!"}));

    // The stop ends a receive that waits, and the client sends nothing more.
    link = linkTo(server, &client);
    listener = std::thread([&] { serverListenThread(*link); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Clock::time_point t0 = Clock::now();
    stopSession(*link);
    listener.join();
    EXPECT_LT(msSince(t0), 2000);
    link->client.sendPacket(PKT_HEARTBEAT, nullptr, 20);
    EXPECT_FALSE(server.receive(got, client, 300));

}

using Handshake = SessionFixture;

// The identity of now, and nothing at all without a GUID. (Its fields are the
// reference server's tests'.)
TEST_F(Handshake, IdentityReportedOnlyWithAGuid) {
    test::UdpPeer server("127.0.0.1");
    auto link = linkTo(server);
    SessionFacts withGuid = facts;
    withGuid.guid = "0123456789abcdef0123456789abcdef";
    reportIdentity(link->client, facts);
    reportIdentity(link->client, withGuid);
    const long long now = std::time(nullptr);
    Bytes got;
    SockAddrIn from{};
    ASSERT_TRUE(server.receive(got, from));
    ASSERT_EQ(got.size(), AC_HEADER_SIZE + 104);
    EXPECT_EQ(got[5], PKT_IDENTITY);
    const std::uint32_t timestamp = loadLe32(&got[AC_HEADER_SIZE + 100]);
    EXPECT_LE(std::llabs(timestamp - now), 2);
    const char* identity = reinterpret_cast<const char*>(&got[AC_HEADER_SIZE]);  // hwid at 0, GUID at 64
    EXPECT_EQ(std::string(identity) + " " + (identity + 64), facts.hwid + " " + withGuid.guid);
    EXPECT_FALSE(server.receive(got, from, 200));
}

// The server plug-in's side of the handshake, scripted: it answers each
// datagram it receives with the next replies of its script (none: silence).
struct ScriptedServer {
    test::UdpPeer peer{"127.0.0.1"};
    std::vector<Bytes> received;

    void play(const std::vector<std::vector<Bytes>>& replies, std::size_t expectDatagrams) {
        for (std::size_t i = 0; i < expectDatagrams; ++i) {
            Bytes got;
            SockAddrIn from{};
            if (!peer.receive(got, from, 12000)) return;
            received.push_back(got);
            if (i < replies.size())
                for (const Bytes& reply : replies[i]) peer.sendTo(reply, from);
        }
    }
};

// Hello, a challenge (one more hello 5 s after a try without one), the
// answer, the verdict: each path's result, flag, log lines and time. (No
// challenge twice and a silent server: the system tests' tray and log.)
TEST_F(Handshake, EachPathEndsWithItsResultLinesAndTiming) {
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof challenge; ++i) challenge[i] = static_cast<std::uint8_t>(0xC0 + i);
    const Bytes challenged = datagram(PKT_CHALLENGE, Bytes(challenge, challenge + sizeof challenge));
    const std::string connecting = "[NET] Connecting to server AC...", retrying = "[WARN] No challenge, retrying...",
                      answering = "[NET] Challenge received, computing response...",
                      unverified = "[WARN] No verification response. Continuing...";
    const struct {
        const char* what;
        std::vector<std::vector<Bytes>> script;
        Bytes types;  // of what the client sends
        HandshakeResult result;
        bool verified;
        std::vector<std::string> lines;
        long long minMs, maxMs;
        bool stop;  // the program stops 1 s in, reaching the pause through the running session
    } cases[] = {
        {"a verdict where the challenge belongs, then verified",
         {{datagram(PKT_VERIFY_OK)}, {challenged}, {datagram(PKT_VERIFY_OK)}},
         {PKT_HELLO, PKT_HELLO, PKT_CHALLENGE_RESPONSE}, HandshakeResult::VERIFIED, true,
         {connecting, retrying, answering, "[AC] Successfully verified with server!"}, 4800, 6500, false},
        {"no challenge twice", {{datagram(PKT_KICK)}, {datagram(PKT_KICK)}}, {PKT_HELLO, PKT_HELLO},
         HandshakeResult::NO_CHALLENGE, false, {connecting, retrying, "[ERROR] Server not responding."}, 4800, 6500, false},
        {"kick", {{challenged}, {datagram(PKT_KICK)}}, {PKT_HELLO, PKT_CHALLENGE_RESPONSE}, HandshakeResult::REJECTED,
         false, {connecting, answering, "[AC] Server rejected connection."}, 0, 3000, false},
        {"silence", {{challenged}}, {PKT_HELLO, PKT_CHALLENGE_RESPONSE}, HandshakeResult::UNVERIFIED, true,
         {connecting, answering, unverified}, 4500, 6500, false},
        {"another reply", {{challenged}, {datagram(PKT_SCREENSHOT_REQUEST)}}, {PKT_HELLO, PKT_CHALLENGE_RESPONSE},
         HandshakeResult::UNVERIFIED, true, {connecting, answering, unverified}, 0, 3000, false},
        {"a stop in the retry pause, without \"not responding\"", {{datagram(PKT_KICK)}}, {PKT_HELLO},
         HandshakeResult::STOPPED, false, {connecting, retrying}, 900, 2500, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ScriptedServer server;
        auto link = linkTo(server.peer);
        std::thread peer([&] { server.play(c.script, c.types.size()); });
        std::thread stopper;
        if (c.stop) {
            setRunningSession(link);
            stopper = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                requestProgramStop();
            });
        }
        g_rejected.store(false);
        const Clock::time_point t0 = Clock::now();
        EXPECT_EQ(handshake(*link), c.result);
        const long long ms = msSince(t0);
        peer.join();
        if (c.stop) stopper.join();
        setRunningSession(nullptr);
        EXPECT_EQ(g_verified.load(), c.verified);
        EXPECT_EQ(g_rejected.load(), c.result == HandshakeResult::REJECTED);
        EXPECT_EQ(lines(), c.lines);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LE(ms, c.maxMs);
        ASSERT_EQ(server.received.size(), c.types.size());
        for (std::size_t i = 0; i < c.types.size(); ++i) {
            const Bytes& got = server.received[i];
            EXPECT_EQ(got[5], c.types[i]) << i;
            // The same hello again, same session id; the answer with the
            // session's values.
            if (c.types[i] == PKT_HELLO) EXPECT_EQ(got, server.received[0]) << i;
            else EXPECT_EQ(Bytes(got.begin() + AC_HEADER_SIZE, got.end()),
                           bytesOf(makeChallengeResponse(challenge, 0x11223344, 0xCAFEF00D, 0)));
        }
    }
}

}  // namespace
}  // namespace marvik
