// The session's own rules: its stop signal and its workers' link, the
// listener, the handshake's payloads and its paths against a scripted peer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/globals.h"
#include "net/packets.h"
#include "net/server_listener.h"
#include "net/udp_client.h"
#include "report/log.h"
#include "session/challenge.h"
#include "session/handshake.h"
#include "session/session_link.h"
#include "support/files.h"
#include "support/udp_peer.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

TEST(SessionLink, SleepRunsItsTimeOrEndsAtItsOwnSessionsStop) {
    g_running = true;  // a stop of the program ends every pause too
    SessionLink link;
    Clock::time_point t0 = Clock::now();
    EXPECT_TRUE(sessionSleep(link, 50));
    EXPECT_GE(msSince(t0), 45);

    std::atomic<bool> woke{false};
    std::thread sleeper([&] { woke = !sessionSleep(link, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    t0 = Clock::now();
    stopSession(link);
    sleeper.join();
    EXPECT_TRUE(woke);
    EXPECT_LT(msSince(t0), 2000);
    // Stopped for good: later pauses end at once and nothing more is done
    // in the session's name.
    EXPECT_FALSE(sessionSleep(link, 60000));
    EXPECT_FALSE(workerMayGoOn(link));
    bool acted = false;
    EXPECT_FALSE(unlessStopped(link, [&] { acted = true; }));
    EXPECT_FALSE(acted);

    // The next session's link is its own: a worker still holding the old one
    // stays stopped, and the new one runs.
    SessionLink next;
    EXPECT_TRUE(workerMayGoOn(next));
    EXPECT_TRUE(unlessStopped(next, [&] { acted = true; }));
    EXPECT_TRUE(acted);
    EXPECT_TRUE(sessionStopped(link));
}

// A fresh log beside the test executable, and the program's flags as a
// session sees them.
class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        test::freshLog();
        g_running = true;
        g_sessionActive = true;
        g_verified = false;
        g_encryption = false;
        g_playerName = "Sniper";
        g_initialSelfCRC = 0x11223344;
    }
    void TearDown() override {
        g_running = true;
        test::freshLog();
    }
    std::string log() const { return test::readFile(path); }
    std::size_t count(const std::string& s) const {
        const std::string text = log();
        std::size_t n = 0;
        for (std::size_t at = text.find(s); at != std::string::npos; at = text.find(s, at + 1)) ++n;
        return n;
    }
    std::vector<std::string> lines() const { return test::logMessages(path); }
    std::string path = test::besideExe("marvik_ac.log");
};

using Listener = SessionFixture;

TEST_F(Listener, CommandsLoggedStraysIgnoredKickEnds) {
    test::UdpPeer server("127.0.0.1");
    SessionLink link;
    ASSERT_TRUE(link.client.open("127.0.0.1", server.port(), false));
    // The client's address: from a first packet it sends.
    link.client.sendPacket(PKT_HEARTBEAT, nullptr, 20);
    Bytes got;
    SockAddrIn clientAddr{};
    ASSERT_TRUE(server.receive(got, clientAddr));

    std::thread listener([&] { serverListenThread(link); });
    const int types[] = {PKT_SCREENSHOT_REQUEST, PKT_UPDATE_AVAILABLE, PKT_UPDATE_AVAILABLE, 99, PKT_VERIFY_OK};
    for (int type : types) server.sendTo(datagram(static_cast<std::uint8_t>(type)), clientAddr);
    server.sendTo(datagram(PKT_KICK, {}, 0x12345678), clientAddr);  // wrong magic
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(g_sessionActive.load());
    server.sendTo(datagram(PKT_KICK), clientAddr);
    listener.join();
    EXPECT_FALSE(g_sessionActive.load());

    EXPECT_EQ(count("[SCREENSHOT] Server requested screenshot"), 1u);
    EXPECT_EQ(count("[UPDATE] Update available from server"), 2u);
    EXPECT_EQ(count("[AC] Server kicked us!"), 1u);
    EXPECT_EQ(count("] ["), 4u) << log();  // nothing for type 99, the late verdict or the bad magic
    // Nothing was sent back.
    EXPECT_FALSE(server.receive(got, clientAddr, 200));
}

TEST_F(Listener, EndsWhenTheFlagsDropOrItsSessionStopsWhichSilencesTheClient) {
    test::UdpPeer server("127.0.0.1");
    SessionLink link;
    ASSERT_TRUE(link.client.open("127.0.0.1", server.port(), false));
    g_sessionActive = false;
    serverListenThread(link);  // returns before any receive

    g_sessionActive = true;
    std::thread listener([&] { serverListenThread(link); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Clock::time_point t0 = Clock::now();
    stopSession(link);  // ends the client's receive the listener waits in
    listener.join();
    EXPECT_LT(msSince(t0), 2000);
    EXPECT_TRUE(g_sessionActive.load());
    // The stopped client sends nothing more.
    link.client.sendPacket(PKT_HEARTBEAT, nullptr, 20);
    Bytes got;
    SockAddrIn from{};
    EXPECT_FALSE(server.receive(got, from, 300));
}

void put(Bytes& b, std::size_t at, const std::string& text) { std::memcpy(&b[at], text.data(), text.size()); }
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(HandshakePayloads, HelloResponseAndIdentityByteForByte) {
    const std::string hwid = "MARVIK-1234ABCD-8D9E785A";
    const std::string guid = "0123456789abcdef0123456789abcdef";

    Bytes hello(144, 0);
    put(hello, 0, std::string(35, 'N'));  // a 40-character name keeps 35
    put32(hello, 36, 28961);
    put32(hello, 40, 0x203);
    put(hello, 44, hwid);
    put(hello, 108, guid);
    EXPECT_EQ(bytesOf(makeHello(std::string(40, 'N'), 28961, hwid, guid)), hello);
    // No GUID: the field is all zero.
    std::fill(hello.begin() + 108, hello.end(), 0);
    EXPECT_EQ(bytesOf(makeHello(std::string(40, 'N'), 28961, hwid, "")), hello);

    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof challenge; ++i) challenge[i] = static_cast<std::uint8_t>(i * 7 + 1);
    std::uint8_t answer[AC_ANSWER_SIZE];
    computeChallengeAnswer(challenge, answer);
    Bytes response(41, 0);
    std::memcpy(response.data(), answer, sizeof answer);
    put32(response, 32, 0xA1B2C3D4);
    put32(response, 36, 0x01020304);
    response[40] = 0x0A;
    EXPECT_EQ(bytesOf(makeChallengeResponse(challenge, 0xA1B2C3D4, 0x01020304, 0x0A)), response);

    Bytes identity(104, 0);
    put(identity, 0, hwid);
    put(identity, 64, (guid + "tail").substr(0, 35));
    put32(identity, 100, 1700000000);
    EXPECT_EQ(bytesOf(makeIdentity(hwid, guid + "tail", 1700000000)), identity);
}

// The server plug-in's side of the handshake, scripted: it answers each
// datagram it receives with the next reply of its script (none: silence).
struct ScriptedServer {
    test::UdpPeer peer{"127.0.0.1"};
    std::vector<Bytes> received;
    std::vector<Clock::time_point> times;

    void play(const std::vector<std::vector<Bytes>>& replies, std::size_t expectDatagrams) {
        for (std::size_t i = 0; i < expectDatagrams; ++i) {
            Bytes got;
            SockAddrIn from{};
            if (!peer.receive(got, from, 12000)) return;
            received.push_back(got);
            times.push_back(Clock::now());
            if (i < replies.size())
                for (const Bytes& reply : replies[i]) peer.sendTo(reply, from);
        }
    }
};

Bytes challengeBytes() {
    Bytes c(AC_CHALLENGE_SIZE);
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = static_cast<std::uint8_t>(0xC0 + i);
    return c;
}

HandshakeFacts someFacts(const std::string& guid) {
    HandshakeFacts facts;
    facts.hwid = "MARVIK-00000000-00000000";
    facts.guid = guid;
    facts.gameCrc = 0xCAFEF00D;
    return facts;
}

using Handshake = SessionFixture;

TEST_F(Handshake, OtherReplyToTheHelloIsAFailedTryThenVerified) {
    ScriptedServer server;
    SessionLink link;
    ASSERT_TRUE(link.client.open("127.0.0.1", server.peer.port(), false));
    // A verdict where the challenge belongs, then the real exchange.
    std::thread peer([&] {
        server.play({{datagram(PKT_VERIFY_OK)}, {datagram(PKT_CHALLENGE, challengeBytes())}, {datagram(PKT_VERIFY_OK)}}, 3);
    });
    const HandshakeResult result = handshake(link, someFacts("guid-1"));
    peer.join();
    EXPECT_EQ(result, HANDSHAKE_VERIFIED);
    EXPECT_TRUE(g_verified.load());
    ASSERT_EQ(server.received.size(), 3u);
    EXPECT_EQ(server.received[0][5], PKT_HELLO);
    EXPECT_EQ(server.received[1], server.received[0]);  // the same hello, same session id
    EXPECT_EQ(server.received[2][5], PKT_CHALLENGE_RESPONSE);
    const long long retryMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(server.times[1] - server.times[0]).count();
    EXPECT_GE(retryMs, 4800);
    EXPECT_LE(retryMs, 6500);
    // The answer to the scripted challenge, with the session's values.
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (int i = 0; i < 32; ++i) challenge[i] = static_cast<std::uint8_t>(0xC0 + i);
    const Bytes response(server.received[2].begin() + AC_HEADER_SIZE, server.received[2].end());
    EXPECT_EQ(response, bytesOf(makeChallengeResponse(challenge, 0x11223344, 0xCAFEF00D, 0)));
    EXPECT_EQ(lines(), (std::vector<std::string>{"[NET] Connecting to server AC...", "[WARN] No challenge, retrying...",
                                                 "[NET] Challenge received, computing response...",
                                                 "[AC] Successfully verified with server!"}));
}

TEST_F(Handshake, KickRejectsSilenceGoesOnUnverified) {
    struct Case {
        Bytes verdict;  // empty: none
        HandshakeResult result;
        bool verified;
        const char* lastLine;
    };
    const Case cases[] = {
        {datagram(PKT_KICK), HANDSHAKE_REJECTED, false, "[AC] Server rejected connection."},
        {{}, HANDSHAKE_UNVERIFIED, true, "[WARN] No verification response. Continuing..."},
        {datagram(PKT_SCREENSHOT_REQUEST), HANDSHAKE_UNVERIFIED, true, "[WARN] No verification response. Continuing..."},
    };
    for (const Case& c : cases) {
        SetUp();
        ScriptedServer server;
        SessionLink link;
        ASSERT_TRUE(link.client.open("127.0.0.1", server.peer.port(), false));
        std::vector<std::vector<Bytes>> script = {{datagram(PKT_CHALLENGE, challengeBytes())}, {}};
        if (!c.verdict.empty()) script[1].push_back(c.verdict);
        std::thread peer([&] { server.play(script, 2); });
        Clock::time_point t0 = Clock::now();
        EXPECT_EQ(handshake(link, someFacts("")), c.result);
        const long long ms = msSince(t0);
        peer.join();
        EXPECT_EQ(g_verified.load(), c.verified);
        EXPECT_EQ(lines().back(), c.lastLine);
        // Only silence waits out the 5 s receive.
        if (c.verdict.empty()) EXPECT_GE(ms, 4500);
        else EXPECT_LT(ms, 3000);
    }
}

TEST_F(Handshake, NoIdentityReportWithoutGuid) {
    ScriptedServer server;
    SessionLink link;
    ASSERT_TRUE(link.client.open("127.0.0.1", server.peer.port(), false));
    reportIdentity(link.client, someFacts(""));
    reportIdentity(link.client, someFacts("abc"));
    server.play({}, 1);
    ASSERT_EQ(server.received.size(), 1u);
    EXPECT_EQ(server.received[0][5], PKT_IDENTITY);
    Bytes none;
    SockAddrIn from{};
    EXPECT_FALSE(server.peer.receive(none, from, 200));
}

TEST_F(Handshake, StopDuringTheRetryPauseEndsAtOnceWithoutNotResponding) {
    ScriptedServer server;
    auto link = std::make_shared<SessionLink>();
    ASSERT_TRUE(link->client.open("127.0.0.1", server.peer.port(), false));
    std::thread peer([&] { server.play({{datagram(PKT_KICK)}}, 1); });  // no challenge: a failed try
    // The stop command reaches the pause through the running session.
    setRunningSession(link);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        requestProgramStop();
    });
    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(handshake(*link, someFacts("")), HANDSHAKE_STOPPED);
    EXPECT_LT(msSince(t0), 2500);
    peer.join();
    stopper.join();
    setRunningSession(nullptr);
    EXPECT_EQ(server.received.size(), 1u);
    EXPECT_EQ(count("Server not responding."), 0u);
    EXPECT_EQ(lines().back(), "[WARN] No challenge, retrying...");
}

}  // namespace
}  // namespace marvik
