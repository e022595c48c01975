#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "inventory/hash.h"
#include "json_lines.h"
#include "net/chunks.h"
#include "net/udp_client.h"
#include "server_core.h"
#include "server_options.h"
#include "session/handshake.h"
#include "support/files.h"
#include "support/report_samples.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

void fixedRandom(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(0xA0 + i);
}

// Drives the protocol logic directly and keeps everything it puts out.
struct Harness {
    ServerState state;
    std::uint64_t now = 1000;
    bool enc = false;
    ServerOutput out;

    explicit Harness(ServerOptions o = ServerOptions()) {
        o.fillRandom = fixedRandom;
        enc = o.encryption;
        serverInit(state, o, now);
    }
    // The server adds what it puts out to what is there.
    void send(std::uint8_t type, const Bytes& payload) {
        Bytes d = framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), 0x11223344u, enc);
        serverHandleDatagram(state, d.data(), d.size(), Endpoint{0x7F000001u, 40000}, now, out);
    }
    void tick(bool stop = false) { stop ? serverFinish(state, now, out) : serverTick(state, now, out); }
    // From event `first` on, the packets sent, the answers judged and the
    // reports finished: "ok" or the reason, and the bytes a configuration
    // report held.
    std::string outcomes(std::size_t first = 0) const {
        std::string text;
        for (auto e = out.events.begin() + first; e != out.events.end(); ++e) {
            std::string item = e->name == "sent" ? field(e->json, "packet") : "";
            if (e->name == "challenge_response")
                item = field(e->json, "answer_ok") == "true" ? "answer ok" : field(e->json, "reason");
            if (e->name == "config")
                item = "config(" + (e->complete ? "ok" : field(e->json, "reason")) + "):" + std::to_string(e->data.size());
            if (!item.empty()) text += (text.empty() ? "" : " | ") + item;
        }
        return text;
    }
};

Bytes helloPayload() {
    return bytesOf(makeHello("Sniper", 28961, "HWID-1234", "abcdef0123456789abcdef0123456789"));
}

// The client's answer to the challenge fixedRandom makes.
Bytes responsePayload() {
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    fixedRandom(challenge, sizeof challenge);
    return bytesOf(makeChallengeResponse(challenge, 0x55667788u, 0xCAFEBABEu, 0x05));
}

TEST(RefServerEvents, EachEventKeepsItsFieldsAndSummary) {
    Harness h;
    h.send(PKT_HELLO, helloPayload());
    h.now += 500;
    const Bytes response = responsePayload();
    h.send(PKT_CHALLENGE_RESPONSE, response);
    HeartbeatPayload hb{};
    hb.tickCount = 123456, hb.processCount = 87, hb.selfCrc = 0xDEADBEEFu, hb.uptimeSeconds = 65;
    hb.debuggerFlag = hb.integrityAlertFlag = 1;
    h.send(PKT_HEARTBEAT, bytesOf(hb));
    h.send(PKT_IDENTITY, bytesOf(makeIdentity("HW", "G\"\\\n\x7f\xE9", 1700000000u)));  // hostile bytes escaped
    MemoryReportPayload mr{};
    mr.address = 0x00401000u, mr.size = 4096, mr.hitFlag = 1;
    std::memset(mr.description, 'D', sizeof mr.description);  // no terminator: all 64 bytes, no more
    h.send(PKT_MEMORY_REPORT, bytesOf(mr));
    std::vector<ModuleInfo> mods = sampleModules(4);
    mods.erase(mods.begin(), mods.begin() + 2);  // mod2 clean, mod3 suspicious
    h.send(PKT_MODULE_LOG, buildModuleLogChunks(mods, 777)[0]);
    // The MD5 and Base64 of "abc" are RFC 1321's and RFC 4648's own examples.
    h.send(PKT_CONFIG_CHUNK, buildConfigChunks(Bytes{'a', 'b', 'c'}, "Sniper")[0]);
    h.send(PKT_KICK, {});
    h.send(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(16)).at(1));  // its first chunk is lost
    h.tick(true);

    // Every event's JSON line and summary line, as recorded in the data
    // file; the answer, which only the shared secret gives, shows as <answer>.
    std::string written;
    for (const ServerEvent& e : h.out.events) written += e.json + "\n" + e.summary + "\n";
    written.replace(written.find(toHex(response.data(), 32)), 64, "<answer>");
    EXPECT_EQ(written, test::readFile(MARVIK_SOURCE_DIR "/tests/data/refserver_events.txt"));
}

TEST(RefServerHandshake, EachVerdictSendsItsRepliesAndArmsTheTimersOnlyWhenItShould) {
    const std::string challenged = "PKT_CHALLENGE | answer ok | ";
    struct Case {
        const char* options;  // E encryption, R --reject, S --silent, N --no-verdict; the client's answer:
                              // W wrong, X sent the other way round, H without a hello
        std::string replies;  // a second later, the 1 s screenshot timer's included
    } cases[] = {
        {"EW", "PKT_CHALLENGE | answer mismatch | PKT_KICK"},
        {"X", "PKT_CHALLENGE | answer mismatch: client sends with encryption | PKT_KICK"},
        {"EX", "PKT_CHALLENGE | answer mismatch: client sends without encryption | PKT_KICK"},
        {"H", "no challenge issued to this session | PKT_KICK"},
        {"R", challenged + "PKT_KICK"},
        {"RS", "answer ok"},  // --silent wins over --reject
        {"N", challenged + "PKT_SCREENSHOT_REQUEST"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.options);
        auto has = [&k](char c) { return std::strchr(k.options, c) != nullptr; };
        ServerOptions o;
        o.encryption = has('E'), o.reject = has('R'), o.silent = has('S'), o.noVerdict = has('N');
        o.screenshotAfterSec = 1;
        Harness h(o);
        if (!has('H')) h.send(PKT_HELLO, helloPayload());
        Bytes response = responsePayload();
        response[0] ^= has('W');
        h.enc ^= has('X');
        h.send(PKT_CHALLENGE_RESPONSE, response);
        h.now += 1000;
        h.tick();
        EXPECT_EQ(h.outcomes(), k.replies);
    }
}

TEST(RefServerTimers, CommandsAndReportTimeoutsFireOnceAtTheirDeadline) {
    ServerOptions o;
    o.screenshotAfterSec = 1, o.updateAfterSec = 4, o.kickAfterSec = 5, o.reportTimeoutMs = 3000;
    Harness h(o);
    h.send(PKT_HELLO, helloPayload());
    h.send(PKT_CONFIG_CHUNK, buildConfigChunks(fileBytes(1800), "P")[0]);  // the second slice is lost
    EXPECT_EQ(serverNextDeadline(h.state), 4000u);  // no command is armed before the verdict
    h.now = 2000;
    h.send(PKT_CHALLENGE_RESPONSE, responsePayload());
    // Each deadline is in turn the earliest, so none can be left out; the
    // library's report deadlines are among them.
    struct Step {
        std::uint64_t now;
        const char* fired;  // packets sent and reports closed at that time
        std::uint64_t next;
    } steps[] = {{2999, "", 3000},
                 {3000, "PKT_SCREENSHOT_REQUEST", 4000},
                 {4000, "config(timeout):900", 6000},
                 {6000, "PKT_UPDATE_AVAILABLE", 7000},
                 {7000, "PKT_KICK", UINT64_MAX}};
    for (const Step& s : steps) {
        std::size_t before = h.out.events.size();
        h.now = s.now;
        h.tick();
        EXPECT_EQ(h.outcomes(before), s.fired) << s.now;
        EXPECT_EQ(serverNextDeadline(h.state), s.next) << s.now;
    }
}

TEST(RefServerCommandLine, ParsesEverySwitchAndRejectsBadOnes) {
    // The system tests run the server with --json, --encryption, --reject,
    // --silent, --no-verdict and --kick-after; these are the others.
    std::vector<const char*> args = {"srv", "--listen", "0.0.0.0", "--port", "0", "--summary", "--screenshot-after",
                                     "2", "--update-after", "3", "--duration", "9", "--report-timeout", "1500",
                                     "--max-sessions", "4"};
    ServerCommandLine cmd;
    std::string error;
    ASSERT_TRUE(parseServerCommandLine(args.size(), args.data(), cmd, error)) << error;
    const ServerOptions& s = cmd.server;
    EXPECT_EQ(std::vector<long long>({cmd.summary, cmd.port, s.screenshotAfterSec, s.updateAfterSec, cmd.durationSec,
                                      s.reportTimeoutMs, static_cast<long long>(s.maxSessions)}),
              std::vector<long long>({1, 0, 2, 3, 9, 1500, 4}));
    EXPECT_EQ(cmd.listenIP, "0.0.0.0");
    for (auto bad : {std::vector<const char*>{"srv", "--port", "65536"}, {"srv", "--port", "12x"},
                      {"srv", "--kick-after", "-1"}, {"srv", "--json"}, {"srv", "--verbose"}}) {
        std::string why;  // told to the admin with the usage
        EXPECT_FALSE(parseServerCommandLine(bad.size(), bad.data(), cmd, why) || why.empty()) << bad[1];
    }
}

TEST(RefServerJson, Base64MatchesRfc4648Vectors) {
    const char* in[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* out[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(base64(reinterpret_cast<const std::uint8_t*>(in[i]), std::strlen(in[i])), out[i]);
}

}  // namespace
}  // namespace marvik
