// The session's stop signal and the handshake's paths against a scripted peer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/process_flags.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "session/handshake.h"
#include "session/session_link.h"
#include "support/files.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

// Once stopped, nothing more is done in a session's name; the next session's link is its own.
TEST(SessionLink, AStoppedSessionDoesNothingMoreWhileTheNextGoesOn) {
    g_running = true;
    SessionLink link, next;
    stopSession(link);
    EXPECT_FALSE(sessionSleep(link, 60000));
    EXPECT_FALSE(sessionGoesOn(link));
    EXPECT_TRUE(sessionGoesOn(next));
}

// A session's link towards peer, with a fresh log.
std::shared_ptr<SessionLink> linkTo(const UdpPeer& peer) {
    freshLog();
    g_running = true, g_verified = false, g_rejected = false;
    SessionFacts facts;
    facts.hwid = "MARVIK-1234ABCD-8D9E785A", facts.gameCrc = 0xCAFEF00D, facts.selfCrc = 0x11223344;
    auto link = std::make_shared<SessionLink>(facts);
    EXPECT_TRUE(link->client.open("127.0.0.1", peer.port(), false));
    return link;
}

// Each path's result, flag, log lines and time; a try without a challenge says hello again 5 s later.
TEST(Handshake, EachPathEndsWithItsResultLinesAndTiming) {
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof challenge; ++i) challenge[i] = static_cast<std::uint8_t>(0xC0 + i);
    const Bytes challenged = datagram(PKT_CHALLENGE, Bytes(challenge, challenge + sizeof challenge));
    const std::string connecting = "[NET] Connecting to server AC...", retrying = "[WARN] No challenge, retrying...",
                      answering = "[NET] Challenge received, computing response...";
    const struct {
        const char* what;
        std::vector<Bytes> replies;  // one to each datagram the client sends; empty: silence
        Bytes types;                 // of what the client sends
        HandshakeResult result;
        std::vector<std::string> lines;
        long long minMs, maxMs;
        bool stop;  // the program stops 1 s in, reaching the pause through the running session
    } cases[] = {
        {"a verdict where the challenge belongs, then verified",
         {datagram(PKT_VERIFY_OK), challenged, datagram(PKT_VERIFY_OK)},
         {PKT_HELLO, PKT_HELLO, PKT_CHALLENGE_RESPONSE}, HandshakeResult::VERIFIED,
         {connecting, retrying, answering, "[AC] Successfully verified with server!"}, 4800, 6500, false},
        {"kick", {challenged, datagram(PKT_KICK)}, {PKT_HELLO, PKT_CHALLENGE_RESPONSE}, HandshakeResult::REJECTED,
         {connecting, answering, "[AC] Server rejected connection."}, 0, 3000, false},
        {"a stop in the retry pause, without \"not responding\"", {datagram(PKT_KICK)}, {PKT_HELLO},
         HandshakeResult::STOPPED, {connecting, retrying}, 900, 2500, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UdpPeer server("127.0.0.1");
        auto link = linkTo(server);
        std::vector<Bytes> received;
        std::thread peer([&] {
            Bytes got;
            for (SockAddrIn from{}; received.size() < c.types.size() && server.receive(got, from, 12000);) {
                received.push_back(got);
                if (received.size() <= c.replies.size()) server.sendTo(c.replies[received.size() - 1], from);
            }
        });
        if (c.stop) setRunningSession(link);
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            if (c.stop) requestProgramStop();
        });
        const Clock::time_point t0 = Clock::now();
        EXPECT_EQ(handshake(*link), c.result);
        const long long ms = msSince(t0);
        peer.join();
        stopper.join();
        setRunningSession(nullptr);
        EXPECT_EQ(std::to_string(g_verified.load()) + std::to_string(g_rejected.load()),
                  c.result == HandshakeResult::REJECTED ? "01" : c.result == HandshakeResult::STOPPED ? "00" : "10");
        EXPECT_EQ(logMessages(besideExe("marvik_ac.log")), c.lines);
        EXPECT_TRUE(ms >= c.minMs && ms <= c.maxMs) << ms;
        ASSERT_EQ(received.size(), c.types.size());
        for (std::size_t i = 0; i < c.types.size(); ++i) EXPECT_EQ(received[i][5], c.types[i]) << i;
    }
    freshLog();
}

}  // namespace
}  // namespace marvik
