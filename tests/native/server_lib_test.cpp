// The plug-in library fed through its C interface by the client's own encoders.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "marvik_server.h"
#include "net/chunks.h"
#include "net/udp_client.h"
#include "session/handshake.h"
#include "support/report_samples.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

// One library fed as from one client; each event it puts out is kept as a short text.
struct Lib {
    std::unique_ptr<mvs_server, void (*)(mvs_server*)> s{nullptr, mvs_destroy};
    mvs_addr from{0x7F000001u, 40000};
    std::uint32_t sid = 0x11223344u;
    std::uint64_t now = 1000;
    bool enc = false;
    std::string said;  // the texts of the events so far, joined by " | "
    Bytes sent;        // the last datagram to send

    explicit Lib(void (*set)(mvs_options&) = nullptr) {
        mvs_options o;
        mvs_options_init(&o);
        if (set != nullptr) set(o);
        s.reset(mvs_create(&o, now));
    }
    void feed(const Bytes& d) {
        ASSERT_EQ(mvs_feed(s.get(), d.data(), d.size(), &from, now), 1);
        drain();
    }
    void send(std::uint8_t type, const Bytes& payload) {
        feed(framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), sid, enc));
    }
    void drain() {
        for (mvs_event e; mvs_next_event(s.get(), &e);) {
            const std::string t = text(e);
            if (!t.empty()) said += (said.empty() ? "" : " | ") + t;
        }
    }
    // A report as its kind, how it ended, its entries or bytes, and for a module report its resent chunks.
    std::string text(const mvs_event& e) {
        const auto& m = e.modules;
        switch (e.type) {
        case MVS_EV_SEND:
            sent.assign(e.send.bytes, e.send.bytes + e.send.size);
            return mvs_packet_name(e.send.type);
        case MVS_EV_MALFORMED: return e.malformed.reason + (" " + std::to_string(e.malformed.size));
        case MVS_EV_ANSWER: return e.answer.verified ? "answer ok" : e.answer.reason;
        case MVS_EV_SILENT: return "silent:" + std::to_string(e.peer.addr.port);
        case MVS_EV_DROPPED: return "dropped:" + std::to_string(e.peer.addr.port);
        case MVS_EV_MODULE_LIST:
        case MVS_EV_MODULE_LOG:
            return (e.type == MVS_EV_MODULE_LIST ? "module_list(" : "module_log(") +
                   std::string(m.complete ? "ok" : m.reason) + "):" + std::to_string(m.module_count) + ":" +
                   std::to_string(m.duplicates);
        case MVS_EV_CONFIG:
            return "config(" + std::string(e.config.complete ? "ok" : e.config.reason) + "):" +
                   std::to_string(e.config.size);
        default: return "";  // chunks, heartbeats and the like: the reference server's tests
        }
    }
};

// Challenges come from the system's random source, so each session gets its own.
TEST(ServerLibHandshake, EachSessionGetsItsOwnChallengeAndOnlyItsAnswerPasses) {
    Lib lib;
    const Bytes hello = bytesOf(makeHello("Sniper", 28960, "HWID-1234", "abcdef0123456789abcdef0123456789"));
    lib.send(PKT_HELLO, hello);
    std::uint8_t first[AC_CHALLENGE_SIZE];
    std::memcpy(first, lib.sent.data() + AC_HEADER_SIZE, sizeof first);
    lib.sid = 99;
    lib.send(PKT_HELLO, hello);
    const Bytes answer = bytesOf(makeChallengeResponse(first, 1, 2, 0));
    lib.send(PKT_CHALLENGE_RESPONSE, answer);  // session 99 answers the other one's challenge
    lib.sid = 0x11223344u;
    lib.enc = true;  // the client encrypts, the server does not
    lib.send(PKT_CHALLENGE_RESPONSE, answer);
    lib.enc = false;
    lib.send(PKT_CHALLENGE_RESPONSE, answer);
    EXPECT_EQ(lib.said, "PKT_CHALLENGE | PKT_CHALLENGE | answer mismatch | "
                              "answer mismatch: client sends with encryption | answer ok");
}

TEST(ServerLibReports, EveryOrderOfArrivalEndsAsItShould) {
    auto list = [](std::size_t n) { return buildModuleListChunks(sampleModules(n)); };
    auto log = [](std::size_t n, unsigned tick) { return buildModuleLogChunks(sampleModules(n), tick); };
    auto file = [](std::size_t n) { return buildConfigChunks(fileBytes(n), "P"); };
    struct Case {
        std::uint8_t type;
        ChunkPayloads reports[2];
        std::vector<std::pair<int, int>> sends;  // (report, chunk); the server stops after them
        std::string outcomes;
    } cases[] = {
        {PKT_MODULE_LIST, {list(31)}, {{0, 2}, {0, 0}, {0, 2}, {0, 1}}, "module_list(ok):31:1"},
        {PKT_MODULE_LIST, {list(0)}, {{0, 0}}, "module_list(ok):0:0"},  // one chunk, no entries
        // Chunk 0 again, or a log of another tick, starts a new report.
        {PKT_MODULE_LIST, {list(20), list(20)}, {{0, 0}, {1, 0}, {1, 1}},
         "module_list(superseded by a new report):15:0 | module_list(ok):20:0"},
        {PKT_MODULE_LOG, {log(4, 100), log(4, 200)}, {{0, 0}, {1, 0}, {1, 1}},
         "module_log(superseded by a new report):3:0 | module_log(ok):4:0"},
        {PKT_CONFIG_CHUNK, {file(2001)}, {{0, 0}, {0, 2}},
         "config(last slice arrived before fileSize bytes: a chunk was lost):1101"},
        {PKT_CONFIG_CHUNK, {file(901)}, {{0, 0}, {0, 0}, {0, 1}},
         "config(more bytes than fileSize: a chunk was lost):900 | config(ok):901"},
    };
    for (const Case& k : cases) {
        Lib lib([](mvs_options& o) { o.silence_timeout_ms = 0; });
        for (const auto& s : k.sends) lib.send(k.type, k.reports[s.first].at(s.second));
        mvs_close_reports(lib.s.get(), lib.now);  // the server stops
        lib.drain();
        EXPECT_EQ(lib.said, k.outcomes);
    }
}

// A zeroed payload of size bytes with 16-bit little-endian words from offset on.
Bytes words(std::size_t offset, std::vector<std::uint16_t> values, std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < values.size(); ++i) storeLe16(&b[offset + 2 * i], values[i]);
    return b;
}

TEST(ServerLibMalformed, EachBadDatagramIsRefusedWithItsReason) {
    Bytes longer = datagram(PKT_HEARTBEAT, Bytes(20, 0));
    longer.push_back(0);  // length field says 20, 21 follow
    // Module list head: entryCount, chunkIndex, chunkCount, totalEntries;
    // configuration head: the player name, then fileSize.
    struct Case {
        Bytes datagram;
        const char* reason;
    } cases[] = {
        {datagram(PKT_HEARTBEAT, Bytes(20, 0), 0x4D414301u), "bad magic 0x4d414301"},
        {longer, "length field 20 but 21 payload bytes"},
        {datagram(PKT_HEARTBEAT, Bytes(24, 0)), "heartbeat payload is 24 bytes, expected 20"},
        {datagram(PKT_MODULE_LIST, words(0, {0, 0, 65535, 0}, 8)), "chunkCount 65535 does not fit totalEntries 0"},
        {datagram(PKT_MODULE_LIST, words(0, {1, 1, 1, 1}, 8 + 72)), "chunkIndex 1 not below chunkCount 1"},
        {datagram(PKT_MODULE_LIST, words(0, {14, 0, 2, 16}, 8 + 14 * 72)), "entryCount 14 in chunk 0 should be 15"},
        {datagram(PKT_CONFIG_CHUNK, words(36, {60000}, 940)), "config fileSize 60000 out of 1 to 59999"},
        {datagram(PKT_CONFIG_CHUNK, words(36, {10}, 51)), "config chunk holds more than fileSize bytes"},
    };
    for (const Case& c : cases) {
        Lib lib;
        lib.feed(c.datagram);
        EXPECT_EQ(lib.said, c.reason + (" " + std::to_string(c.datagram.size())));
    }
}

TEST(ServerLibSessions, KeyedBySenderAndSessionIdDroppedWhenSilentOrBeyondTheCap) {
    Lib lib([](mvs_options& o) { o.max_sessions = 2, o.silence_timeout_ms = 30000, o.report_timeout_ms = 5000; });
    // The first is heard again before the third comes, so the second is the one dropped.
    for (auto sender : {std::make_pair(40000, 1), {40001, 1}, {40000, 1}, {40000, 2}}) {
        lib.from.port = static_cast<std::uint16_t>(sender.first), lib.sid = sender.second, lib.now += 10;
        lib.send(PKT_MODULE_LOG, buildModuleLogChunks(sampleModules(4), 5)[0]);
    }
    ASSERT_EQ(lib.said, "module_log(session evicted):3:0 | dropped:40001");
    // Each deadline in turn is the earliest: reports after 5 s, sessions after 30 s.
    struct Step {
        std::uint64_t now;
        const char* ended;
        std::uint64_t next;
    } steps[] = {{6040, "module_log(timeout):3:1 | module_log(timeout):3:0", 31030},
                 {31030, "silent:40000", 31040}};
    for (const Step& s : steps) {
        lib.said.clear();
        lib.now = s.now;
        ASSERT_EQ(mvs_tick(lib.s.get(), lib.now), 1);
        lib.drain();
        EXPECT_EQ(lib.said, s.ended) << s.now;
        EXPECT_EQ(mvs_next_deadline(lib.s.get()), s.next) << s.now;
    }
}

}  // namespace
}  // namespace marvik
