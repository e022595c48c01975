#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "inventory/hash.h"
#include "json_lines.h"
#include "net/chunks.h"
#include "net/udp_client.h"
#include "posix/event_field.h"
#include "server_core.h"
#include "server_options.h"
#include "session/handshake.h"
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
    Endpoint from{0x7F000001u, 40000};
    std::uint64_t now = 1000;
    std::uint32_t sid = 0x11223344u;
    bool enc = false;
    ServerOutput out;

    explicit Harness(ServerOptions o = ServerOptions()) {
        o.fillRandom = fixedRandom;
        enc = o.encryption;
        serverInit(state, o, now);
    }
    // The server adds what it puts out to what is there.
    void send(std::uint8_t type, const Bytes& payload) {
        Bytes d = framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), sid, enc);
        serverHandleDatagram(state, d.data(), d.size(), from, now, out);
    }
    void tick(bool stop = false) { stop ? serverFinish(state, now, out) : serverTick(state, now, out); }
    const std::string& lastJson(const std::string& name) const {
        static const std::string none;
        auto it = out.events.rbegin();
        while (it != out.events.rend() && it->name != name) ++it;
        return it == out.events.rend() ? none : it->json;
    }
    // From event `first` on, the packets sent and the reports finished:
    // "ok" or the reason, what it held (modules or file bytes) and, for a
    // module report, its duplicates.
    std::string outcomes(std::size_t first = 0) const {
        std::string text;
        for (auto e = out.events.begin() + first; e != out.events.end(); ++e) {
            bool config = e->name == "config", modules = e->name == "module_list" || e->name == "module_log";
            if (e->name == "sent") text += (text.empty() ? "" : " | ") + field(e->json, "packet");
            if (!config && !modules) continue;
            std::string status = e->complete ? "ok" : field(e->json, "reason");
            text += (text.empty() ? "" : " | ") + e->name + "(" + status + "):" +
                   std::to_string(config ? e->data.size() : e->modules.size()) +
                   (modules ? ":" + field(e->json, "duplicates") : "");
        }
        return text;
    }
};

Bytes helloPayload() {
    return bytesOf(makeHello("Sniper", 28960, "HWID-1234", "abcdef0123456789abcdef0123456789"));
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
    h.send(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(16))[1]);  // its first chunk is lost
    h.tick(true);

    // Every event's JSON line and summary line; the answer, which only the
    // shared secret gives, shows as <answer>.
    std::string written;
    for (const ServerEvent& e : h.out.events) written += e.json + "\n" + e.summary + "\n";
    written.replace(written.find(toHex(response.data(), 32)), 64, "<answer>");
    EXPECT_EQ(written, R"({"event":"hello","t_ms":0,"from":"127.0.0.1:40000","session":"0x11223344","player":"Sniper","port":28960,"version":"0x203","hwid":"HWID-1234","guid":"abcdef0123456789abcdef0123456789","retry":false}
   0.000 127.0.0.1:40000 0x11223344 hello player=Sniper version=0x203 guid=abcdef0123456789abcdef0123456789
{"event":"sent","t_ms":0,"to":"127.0.0.1:40000","session":"0x11223344","packet":"PKT_CHALLENGE","type":2,"bytes":44,"why":"hello","challenge":"a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"}
   0.000 127.0.0.1:40000 0x11223344 <- PKT_CHALLENGE (hello)
{"event":"challenge_response","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","answer_ok":true,"answer":"<answer>","self_crc":"0x55667788","game_crc":"0xcafebabe","integrity_flags":5}
   0.500 127.0.0.1:40000 0x11223344 challenge response OK self_crc=0x55667788 game_crc=0xcafebabe flags=0x05
{"event":"sent","t_ms":500,"to":"127.0.0.1:40000","session":"0x11223344","packet":"PKT_VERIFY_OK","type":4,"bytes":12,"why":"answer ok"}
   0.500 127.0.0.1:40000 0x11223344 <- PKT_VERIFY_OK (answer ok)
{"event":"heartbeat","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","handshake":"verified","tick_count":123456,"process_count":87,"debugger":1,"module_alert":0,"integrity_alert":1,"reserved":0,"self_crc":"0xdeadbeef","uptime_s":65}
   0.500 127.0.0.1:40000 0x11223344 heartbeat uptime=65s processes=87 debugger=1 module_alert=0 integrity_alert=1 self_crc=0xdeadbeef
{"event":"identity","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","hwid":"HW","guid":"G\"\\\u000a\u007f\u00e9","timestamp":1700000000}
   0.500 127.0.0.1:40000 0x11223344 identity guid=G"\\x0a\x7f\xe9 hwid=HW
{"event":"memory_report","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","address":"0x00401000","size":4096,"hit_flag":1,"description":"DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDD"}
   0.500 127.0.0.1:40000 0x11223344 memory report at 0x00401000 size 4096: DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDD
{"event":"module_log_chunk","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","chunk_index":0,"chunk_count":1,"entries":2,"total_entries":2,"duplicate":false}
   0.500 127.0.0.1:40000 0x11223344 module_log_chunk 1/1
{"event":"module_log","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","complete":true,"chunk_count":1,"chunks_received":1,"total_entries":2,"duplicates":0,"missing_chunks":[],"tick_count":777,"modules":[{"name":"mod2.dll","path":"C:\\Games\\CoD4\\mod2.dll","crc32":"0x00001002","image_size":12288,"suspicious":0},{"name":"mod3.dll","path":"C:\\Games\\CoD4\\mod3.dll","crc32":"0x00001003","image_size":16384,"suspicious":1}]}
   0.500 127.0.0.1:40000 0x11223344 module log COMPLETE: 2/2 modules, 1 suspicious, 1/1 chunks
{"event":"config_chunk","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","player":"Sniper","file_size":3,"data_bytes":3,"offset":0}
   0.500 127.0.0.1:40000 0x11223344 config chunk 1: 3 bytes, 3/3
{"event":"config","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","complete":true,"player":"Sniper","size":3,"received_bytes":3,"chunks":1,"md5":"900150983cd24fb0d6963f7d28e17f72","data_base64":"YWJj"}
   0.500 127.0.0.1:40000 0x11223344 config COMPLETE: 3/3 bytes in 1 chunks
{"event":"malformed","t_ms":500,"from":"127.0.0.1:40000","bytes":12,"reason":"server-to-client packet PKT_KICK"}
   0.500 127.0.0.1:40000 MALFORMED (12 bytes): server-to-client packet PKT_KICK
{"event":"module_list_chunk","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","chunk_index":1,"chunk_count":2,"entries":1,"total_entries":16,"duplicate":false}
   0.500 127.0.0.1:40000 0x11223344 module_list_chunk 2/2
{"event":"module_list","t_ms":500,"from":"127.0.0.1:40000","session":"0x11223344","complete":false,"reason":"server stopped","chunk_count":2,"chunks_received":1,"total_entries":16,"duplicates":0,"missing_chunks":[0],"modules":[{"name":"mod15.dll","crc32":"0x0000100f","image_size":65536}]}
   0.500 127.0.0.1:40000 0x11223344 module list INCOMPLETE: 1/16 modules, 1/2 chunks (server stopped)
)");
    // A repeated hello gets the same challenge, so a late first one and the
    // second never disagree; it goes in clear, framed with the session's id.
    h.send(PKT_HELLO, helloPayload());
    EXPECT_EQ(field(h.lastJson("hello"), "retry"), "true");
    Bytes challenge(AC_CHALLENGE_SIZE);
    fixedRandom(challenge.data(), challenge.size());
    ASSERT_EQ(h.out.replies.size(), 3u);
    EXPECT_EQ(h.out.replies[0].bytes, datagram(PKT_CHALLENGE, challenge));
    EXPECT_EQ(h.out.replies[2].bytes, h.out.replies[0].bytes);
}

TEST(RefServerHandshake, EachVerdictSendsItsRepliesAndArmsTheTimersOnlyWhenItShould) {
    enum Answer { RIGHT, WRONG, OTHER_ENCRYPTION, NO_HELLO };
    const std::string kicked = "PKT_CHALLENGE | PKT_KICK";
    struct Case {
        const char* what;
        const char* options;  // E encryption, R --reject, S --silent, N --no-verdict
        Answer answer;
        const char* reason;   // "" when the answer is right
        std::string replies;  // a second later, the 1 s screenshot timer's included
        const char* kick;     // the kick's payload as the client decrypts it
    } cases[] = {
        {"wrong answer, RC4", "E", WRONG, "answer mismatch", kicked, "bad answer"},
        {"client in clear", "E", OTHER_ENCRYPTION, "answer mismatch: client sends without encryption", kicked,
         "bad answer"},
        {"no hello", "", NO_HELLO, "no challenge issued to this session", "PKT_KICK", "bad answer"},
        {"--reject", "R", RIGHT, "", kicked, "rejected"},
        {"--silent wins over --reject", "RS", RIGHT, "", "", ""},
        {"--no-verdict", "N", RIGHT, "", "PKT_CHALLENGE | PKT_SCREENSHOT_REQUEST", ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        auto has = [&k](char c) { return std::strchr(k.options, c) != nullptr; };
        ServerOptions o;
        o.encryption = has('E'), o.reject = has('R'), o.silent = has('S'), o.noVerdict = has('N');
        o.screenshotAfterSec = 1;
        Harness h(o);
        if (k.answer != NO_HELLO) h.send(PKT_HELLO, helloPayload());
        Bytes response = responsePayload();
        response[0] ^= k.answer == WRONG;
        h.enc = k.answer == OTHER_ENCRYPTION ? !o.encryption : o.encryption;
        h.send(PKT_CHALLENGE_RESPONSE, response);
        h.now += 1000;
        h.tick();
        const std::string& json = h.lastJson("challenge_response");
        EXPECT_EQ(field(json, "answer_ok") + " " + field(json, "reason"),
                  (*k.reason ? "false " : "true ") + std::string(k.reason));
        EXPECT_EQ(h.outcomes(), k.replies);
        // The kick, read as the client reads it.
        Bytes last = h.out.replies.empty() ? Bytes(12) : h.out.replies.back().bytes;
        ACPacketHeader head{};
        parseDatagram(last.data(), static_cast<std::int32_t>(last.size()), o.encryption, head, nullptr, 0);
        EXPECT_EQ(head.type == PKT_KICK ? std::string(last.begin() + 12, last.end()) : "", k.kick);
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
    ChunkPayloads list = buildModuleListChunks(sampleModules(40));
    h.send(PKT_MODULE_LIST, list[0]);
    h.send(PKT_MODULE_LIST, list[2]);
    h.send(PKT_CHALLENGE_RESPONSE, responsePayload());
    h.now = 2500;
    h.send(PKT_MODULE_LOG, buildModuleLogChunks(sampleModules(4), 5)[0]);
    // Each deadline is in turn the earliest, so none can be left out.
    struct Step {
        std::uint64_t now;
        const char* fired;  // packets sent and reports closed at that time
        std::uint64_t next;
    } steps[] = {{2999, "", 3000},
                 {3000, "PKT_SCREENSHOT_REQUEST", 4000},
                 {4000, "config(timeout):900", 5000},
                 {5000, "module_list(timeout):25:0", 5500},
                 {5500, "module_log(timeout):3:0", 6000},
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
    EXPECT_TRUE(cmd.summary && cmd.listenIP == "0.0.0.0");
    EXPECT_EQ(std::vector<long long>({cmd.port, s.screenshotAfterSec, s.updateAfterSec, cmd.durationSec,
                                      s.reportTimeoutMs, static_cast<long long>(s.maxSessions)}),
              std::vector<long long>({0, 2, 3, 9, 1500, 4}));
    for (auto bad : {std::vector<const char*>{"srv", "--port", "65536"}, {"srv", "--port", "12x"},
                      {"srv", "--kick-after", "-1"}, {"srv", "--json"}, {"srv", "--verbose"}}) {
        error.clear();
        EXPECT_FALSE(parseServerCommandLine(bad.size(), bad.data(), cmd, error) || error.empty()) << bad[1];
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
