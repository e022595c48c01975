#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "answer_check.h"
#include "inventory/hash.h"
#include "inventory/module_info.h"
#include "json_lines.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "net/rc4.h"
#include "net/udp_client.h"
#include "server_core.h"
#include "server_loop.h"
#include "server_options.h"

namespace marvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- a small strict JSON reader: every line the server writes must parse ----

struct Json {
    enum Kind { NUL, BOOL, NUM, STR, ARR, OBJ } kind = NUL;
    bool b = false;
    double num = 0;
    std::string str;  // code points 0..255 as bytes
    std::vector<Json> arr;
    std::map<std::string, Json> obj;

    const Json& operator[](const std::string& key) const {
        static const Json missing;
        auto it = obj.find(key);
        return it == obj.end() ? missing : it->second;
    }
};

struct JsonReader {
    const std::string& s;
    std::size_t i = 0;
    bool ok = true;

    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }
    bool eat(char c) {
        ws();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    std::string string() {
        std::string out;
        if (!eat('"')) return ok = false, out;
        while (i < s.size() && s[i] != '"') {
            unsigned char c = static_cast<unsigned char>(s[i++]);
            if (c < 0x20) return ok = false, out;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (i >= s.size()) return ok = false, out;
            char e = s[i++];
            const char* simple = "\"\\/bfnrt";
            const char* mapped = "\"\\/\b\f\n\r\t";
            const char* at = std::strchr(simple, e);
            if (e != 'u' && at != nullptr && e != '\0') {
                out += mapped[at - simple];
            } else if (e == 'u' && i + 4 <= s.size()) {
                unsigned cp = static_cast<unsigned>(std::stoul(s.substr(i, 4), nullptr, 16));
                i += 4;
                if (cp > 255) return ok = false, out;
                out += static_cast<char>(cp);
            } else {
                return ok = false, out;
            }
        }
        if (i >= s.size()) return ok = false, out;
        ++i;
        return out;
    }
    Json value() {
        Json v;
        ws();
        if (i >= s.size()) return ok = false, v;
        char c = s[i];
        if (c == '{') {
            ++i;
            v.kind = Json::OBJ;
            if (eat('}')) return v;
            do {
                std::string k = string();
                if (!ok || !eat(':')) return ok = false, v;
                v.obj[k] = value();
            } while (ok && eat(','));
            if (!eat('}')) ok = false;
        } else if (c == '[') {
            ++i;
            v.kind = Json::ARR;
            if (eat(']')) return v;
            do v.arr.push_back(value());
            while (ok && eat(','));
            if (!eat(']')) ok = false;
        } else if (c == '"') {
            v.kind = Json::STR;
            v.str = string();
        } else if (s.compare(i, 4, "true") == 0 || s.compare(i, 5, "false") == 0) {
            v.kind = Json::BOOL;
            v.b = s[i] == 't';
            i += v.b ? 4 : 5;
        } else if (s.compare(i, 4, "null") == 0) {
            i += 4;
        } else {
            std::size_t used = 0;
            try {
                v.num = std::stod(s.substr(i), &used);
            } catch (...) {
                ok = false;
            }
            v.kind = Json::NUM;
            i += used;
            if (used == 0) ok = false;
        }
        return v;
    }
};

Json parseJson(const std::string& line) {
    JsonReader r{line};
    Json v = r.value();
    r.ws();
    EXPECT_TRUE(r.ok && r.i == line.size()) << "not one JSON value: " << line;
    return v;
}

// ---- driving the protocol logic directly ----

void fixedRandom(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(0xA0 + i);
}

struct Harness {
    ServerState state;
    Endpoint from{0x7F000001u, 40000};
    std::uint64_t now = 1000;
    std::uint32_t sid = 0x12345678u;
    bool enc = false;
    std::vector<ServerEvent> events;
    std::vector<OutDatagram> replies;

    explicit Harness(ServerOptions o = ServerOptions()) {
        o.fillRandom = fixedRandom;
        enc = o.encryption;
        serverInit(state, o, now);
    }
    ServerOutput take(ServerOutput& out) {
        for (const ServerEvent& e : out.events) {
            Json j = parseJson(e.json);
            EXPECT_EQ(j["event"].str, e.name);
            EXPECT_FALSE(e.summary.empty());
            events.push_back(e);
        }
        for (const OutDatagram& d : out.replies) replies.push_back(d);
        return out;
    }
    ServerOutput raw(const Bytes& datagram) {
        ServerOutput out;
        serverHandleDatagram(state, datagram.data(), datagram.size(), from, now, out);
        return take(out);
    }
    ServerOutput send(std::uint8_t type, const Bytes& payload) {
        return raw(framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), sid,
                               enc));
    }
    ServerOutput tick() {
        ServerOutput out;
        serverTick(state, now, out);
        return take(out);
    }
    ServerOutput finish() {
        ServerOutput out;
        serverFinish(state, now, out);
        return take(out);
    }
    // The last event of a name, parsed; kind NUL when there is none.
    Json last(const std::string& name) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->name == name) return parseJson(it->json);
        return Json();
    }
    const ServerEvent* lastEvent(const std::string& name) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->name == name) return &*it;
        return nullptr;
    }
    std::size_t count(const std::string& name) const {
        std::size_t n = 0;
        for (const ServerEvent& e : events) n += e.name == name ? 1 : 0;
        return n;
    }
};

template <typename Record>
Bytes bytesOf(const Record& r) {
    const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>(&r);
    return Bytes(p, p + sizeof r);
}

Bytes helloPayload(const std::string& player) {
    HelloPayload h{};
    copyText(h.playerName, player);
    h.serverPort = 28960;
    h.clientVersion = AC_CLIENT_VERSION;
    copyText(h.hwid, "HWID-1234");
    copyText(h.guid, "abcdef0123456789abcdef0123456789");
    return bytesOf(h);
}

Bytes responsePayload(const std::uint8_t challenge[32]) {
    ChallengeResponsePayload r{};
    clientChallengeAnswer(challenge, r.answer);
    r.selfCrc = 0x11223344u;
    r.gameCrc = 0xCAFEBABEu;
    r.integrityFlags = 0x05;
    return bytesOf(r);
}

struct Reply {
    ACPacketHeader header;
    Bytes payload;  // decrypted as the client would
};

Reply decodeReply(const OutDatagram& d, bool enc) {
    Reply r{};
    Bytes copy = d.bytes;
    std::int32_t n = parseDatagram(copy.data(), static_cast<std::int32_t>(copy.size()), enc, r.header,
                                   nullptr, 0);
    EXPECT_GE(n, 0);
    if (n > 0) r.payload.assign(copy.begin() + 12, copy.end());
    return r;
}

std::vector<ModuleInfo> sampleModules(std::size_t n) {
    std::vector<ModuleInfo> v;
    for (std::size_t i = 0; i < n; ++i) {
        ModuleInfo m;
        m.name = "mod" + std::to_string(i) + ".dll";
        m.path = "C:\\Games\\CoD4\\" + m.name;
        m.crc32 = 0x1000u + static_cast<std::uint32_t>(i);
        m.size = 4096u * static_cast<std::uint32_t>(i + 1);
        m.suspicious = i % 4 == 3;
        v.push_back(m);
    }
    return v;
}

Bytes fileBytes(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>('a' + i % 26);
    if (n > 10) b[10] = 0xFF;  // not text: must survive byte for byte
    return b;
}

class RefServer : public ::testing::TestWithParam<bool> {
protected:
    ServerOptions opts() const {
        ServerOptions o;
        o.encryption = GetParam();
        return o;
    }
};

INSTANTIATE_TEST_SUITE_P(Encryption, RefServer, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? std::string("Rc4") : std::string("Clear");
                         });

// ---- handshake ----

TEST_P(RefServer, HandshakeHelloChallengeAnswerVerifyOk) {
    Harness h(opts());
    h.send(PKT_HELLO, helloPayload("Sniper"));
    Json hello = h.last("hello");
    EXPECT_EQ(hello["player"].str, "Sniper");
    EXPECT_EQ(hello["from"].str, "127.0.0.1:40000");
    EXPECT_EQ(hello["session"].str, "0x12345678");
    EXPECT_EQ(hello["version"].str, "0x203");
    EXPECT_EQ(hello["port"].num, 28960);
    EXPECT_EQ(hello["guid"].str, "abcdef0123456789abcdef0123456789");
    EXPECT_EQ(hello["hwid"].str, "HWID-1234");

    ASSERT_EQ(h.replies.size(), 1u);
    // The challenge travels in clear whatever the encryption setting.
    const Bytes& c = h.replies[0].bytes;
    ASSERT_EQ(c.size(), 44u);
    EXPECT_EQ(Bytes(c.begin(), c.begin() + 8), (Bytes{0x00, 0x43, 0x41, 0x4D, 0x01, 0x02, 32, 0}));
    EXPECT_EQ(Bytes(c.begin() + 8, c.begin() + 12), (Bytes{0x78, 0x56, 0x34, 0x12}));
    std::uint8_t challenge[32];
    std::memcpy(challenge, c.data() + 12, 32);
    EXPECT_EQ(challenge[0], 0xA0);
    EXPECT_EQ(h.replies[0].to.port, 40000);

    h.send(PKT_CHALLENGE_RESPONSE, responsePayload(challenge));
    Json resp = h.last("challenge_response");
    EXPECT_TRUE(resp["answer_ok"].b);
    EXPECT_EQ(resp["self_crc"].str, "0x11223344");
    EXPECT_EQ(resp["game_crc"].str, "0xcafebabe");
    EXPECT_EQ(resp["integrity_flags"].num, 5);
    ASSERT_EQ(h.replies.size(), 2u);
    EXPECT_EQ(decodeReply(h.replies[1], GetParam()).header.type, PKT_VERIFY_OK);
    EXPECT_EQ(h.last("sent")["packet"].str, "PKT_VERIFY_OK");
}

TEST_P(RefServer, HandshakeWrongAnswerIsKickedWithReason) {
    Harness h(opts());
    h.send(PKT_HELLO, helloPayload("Bob"));
    std::uint8_t wrong[32] = {};
    h.send(PKT_CHALLENGE_RESPONSE, responsePayload(wrong));
    Json resp = h.last("challenge_response");
    EXPECT_FALSE(resp["answer_ok"].b);
    EXPECT_EQ(resp["reason"].str, "answer mismatch");
    ASSERT_EQ(h.replies.size(), 2u);
    Reply kick = decodeReply(h.replies[1], GetParam());
    EXPECT_EQ(kick.header.type, PKT_KICK);
    EXPECT_EQ(std::string(kick.payload.begin(), kick.payload.end()), "bad answer");
}

TEST(RefServerHandshake, EncryptionMismatchIsNamed) {
    for (bool serverEncrypts : {true, false}) {
        ServerOptions o;
        o.encryption = serverEncrypts;
        Harness h(o);
        h.send(PKT_HELLO, helloPayload("Bob"));
        std::uint8_t challenge[32];
        std::memcpy(challenge, h.replies[0].bytes.data() + 12, 32);
        h.enc = !serverEncrypts;  // the client is set the other way
        h.send(PKT_CHALLENGE_RESPONSE, responsePayload(challenge));
        Json resp = h.last("challenge_response");
        EXPECT_FALSE(resp["answer_ok"].b);
        EXPECT_EQ(resp["reason"].str, serverEncrypts
                                          ? "answer mismatch: client sends without encryption"
                                          : "answer mismatch: client sends with encryption");
    }
}

TEST(RefServerHandshake, RepeatedHelloGetsTheSameChallenge) {
    Harness h;
    h.send(PKT_HELLO, helloPayload("A"));
    h.now += 10000;
    h.send(PKT_HELLO, helloPayload("A"));
    ASSERT_EQ(h.replies.size(), 2u);
    EXPECT_EQ(h.replies[0].bytes, h.replies[1].bytes);
    EXPECT_TRUE(h.last("hello")["retry"].b);
}

TEST(RefServerHandshake, ResponseWithoutHelloIsKicked) {
    Harness h;
    std::uint8_t any[32] = {};
    h.send(PKT_CHALLENGE_RESPONSE, responsePayload(any));
    EXPECT_EQ(h.last("challenge_response")["reason"].str, "no challenge issued to this session");
    ASSERT_EQ(h.replies.size(), 1u);
    EXPECT_EQ(h.replies[0].bytes[5], PKT_KICK);
}

TEST(RefServerHandshake, SwitchesRejectSilentNoVerdict) {
    auto run = [](ServerOptions o) {
        Harness h(o);
        h.send(PKT_HELLO, helloPayload("A"));
        std::uint8_t challenge[32];
        fixedRandom(challenge, 32);
        h.send(PKT_CHALLENGE_RESPONSE, responsePayload(challenge));
        EXPECT_TRUE(h.last("challenge_response")["answer_ok"].b);
        Bytes types;
        for (const OutDatagram& d : h.replies) types.push_back(d.bytes[5]);
        return types;
    };
    ServerOptions reject;
    reject.reject = true;
    EXPECT_EQ(run(reject), (Bytes{PKT_CHALLENGE, PKT_KICK}));
    ServerOptions silent;
    silent.silent = true;
    silent.reject = true;  // silent wins: nothing at all goes out
    EXPECT_EQ(run(silent), Bytes{});
    ServerOptions noVerdict;
    noVerdict.noVerdict = true;
    EXPECT_EQ(run(noVerdict), (Bytes{PKT_CHALLENGE}));
}

TEST(RefServerTimers, CommandsGoOutOnceAtTheirTimeAfterTheVerdict) {
    ServerOptions o;
    o.screenshotAfterSec = 2;
    o.updateAfterSec = 3;
    o.kickAfterSec = 5;
    Harness h(o);
    h.send(PKT_HELLO, helloPayload("A"));
    EXPECT_EQ(serverNextDeadline(h.state), UINT64_MAX);  // nothing armed before the verdict
    std::uint8_t challenge[32];
    fixedRandom(challenge, 32);
    h.now = 5000;
    h.send(PKT_CHALLENGE_RESPONSE, responsePayload(challenge));
    EXPECT_EQ(serverNextDeadline(h.state), 7000u);

    h.now = 6999;
    h.tick();
    EXPECT_EQ(h.replies.size(), 2u);
    h.now = 7000;
    h.tick();
    ASSERT_EQ(h.replies.size(), 3u);
    EXPECT_EQ(h.replies[2].bytes[5], PKT_SCREENSHOT_REQUEST);
    EXPECT_EQ(serverNextDeadline(h.state), 8000u);
    h.now = 8500;
    h.tick();
    h.tick();
    ASSERT_EQ(h.replies.size(), 4u);
    EXPECT_EQ(h.replies[3].bytes[5], PKT_UPDATE_AVAILABLE);
    h.now = 10000;
    h.tick();
    ASSERT_EQ(h.replies.size(), 5u);
    EXPECT_EQ(h.replies[4].bytes[5], PKT_KICK);
    h.now = 60000;
    h.tick();
    EXPECT_EQ(h.replies.size(), 5u);
    EXPECT_EQ(serverNextDeadline(h.state), UINT64_MAX);
}

TEST(RefServerTimers, RejectedClientGetsNoLaterCommands) {
    ServerOptions o;
    o.reject = true;
    o.screenshotAfterSec = 0;
    Harness h(o);
    h.send(PKT_HELLO, helloPayload("A"));
    std::uint8_t challenge[32];
    fixedRandom(challenge, 32);
    h.send(PKT_CHALLENGE_RESPONSE, responsePayload(challenge));
    h.now += 5000;
    h.tick();
    EXPECT_EQ(h.replies.size(), 2u);
}

// ---- reports ----

TEST_P(RefServer, ModuleListCompleteInOrder) {
    Harness h(opts());
    std::vector<ModuleInfo> mods = sampleModules(40);
    ChunkPayloads chunks = buildModuleListChunks(mods);
    ASSERT_EQ(chunks.size(), 3u);
    for (const Bytes& c : chunks) h.send(PKT_MODULE_LIST, c);
    EXPECT_EQ(h.count("module_list_chunk"), 3u);
    const ServerEvent* e = h.lastEvent("module_list");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->complete);
    ASSERT_EQ(e->modules.size(), 40u);
    EXPECT_EQ(e->modules[39].name, "mod39.dll");
    EXPECT_EQ(e->modules[39].crc32, 0x1000u + 39);
    EXPECT_EQ(e->modules[39].size, 4096u * 40);
    Json j = parseJson(e->json);
    EXPECT_TRUE(j["complete"].b);
    EXPECT_EQ(j["total_entries"].num, 40);
    EXPECT_EQ(j["chunk_count"].num, 3);
    ASSERT_EQ(j["modules"].arr.size(), 40u);
    EXPECT_EQ(j["modules"].arr[16]["name"].str, "mod16.dll");
    EXPECT_EQ(j["modules"].arr[16]["crc32"].str, "0x00001010");
    EXPECT_TRUE(h.replies.empty());  // reports are never acknowledged
}

TEST(RefServerModuleList, OutOfOrderAndDuplicateChunksGiveOneCompleteReport) {
    Harness h;
    ChunkPayloads chunks = buildModuleListChunks(sampleModules(31));  // 3 chunks
    h.send(PKT_MODULE_LIST, chunks[2]);
    h.send(PKT_MODULE_LIST, chunks[0]);
    h.send(PKT_MODULE_LIST, chunks[2]);
    EXPECT_TRUE(h.last("module_list_chunk")["duplicate"].b);
    EXPECT_EQ(h.count("module_list"), 0u);
    h.send(PKT_MODULE_LIST, chunks[1]);
    ASSERT_EQ(h.count("module_list"), 1u);
    const ServerEvent* e = h.lastEvent("module_list");
    EXPECT_TRUE(e->complete);
    ASSERT_EQ(e->modules.size(), 31u);
    for (std::size_t i = 0; i < 31; ++i) EXPECT_EQ(e->modules[i].name, "mod" + std::to_string(i) + ".dll");
    EXPECT_EQ(parseJson(e->json)["duplicates"].num, 1);
}

TEST(RefServerModuleList, MissingChunkTimesOutAsIncomplete) {
    ServerOptions o;
    o.reportTimeoutMs = 3000;
    Harness h(o);
    ChunkPayloads chunks = buildModuleListChunks(sampleModules(40));
    h.send(PKT_MODULE_LIST, chunks[0]);
    h.now += 50;
    h.send(PKT_MODULE_LIST, chunks[2]);
    EXPECT_EQ(serverNextDeadline(h.state), h.now + 3000);
    h.now += 2999;
    h.tick();
    EXPECT_EQ(h.count("module_list"), 0u);
    h.now += 1;
    h.tick();
    const ServerEvent* e = h.lastEvent("module_list");
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->complete);
    EXPECT_EQ(e->modules.size(), 25u);  // chunk 0 (15) and chunk 2 (10)
    Json j = parseJson(e->json);
    EXPECT_EQ(j["reason"].str, "timeout");
    ASSERT_EQ(j["missing_chunks"].arr.size(), 1u);
    EXPECT_EQ(j["missing_chunks"].arr[0].num, 1);
    EXPECT_EQ(j["chunks_received"].num, 2);
}

TEST(RefServerModuleList, NewReportSupersedesAnUnfinishedOne) {
    Harness h;
    ChunkPayloads first = buildModuleListChunks(sampleModules(20));
    ChunkPayloads second = buildModuleListChunks(sampleModules(20));
    h.send(PKT_MODULE_LIST, first[0]);  // its chunk 1 is lost
    for (const Bytes& c : second) h.send(PKT_MODULE_LIST, c);
    ASSERT_EQ(h.count("module_list"), 2u);
    EXPECT_FALSE(h.events[1].complete);
    EXPECT_EQ(parseJson(h.events[1].json)["reason"].str, "superseded by a new report");
    EXPECT_TRUE(h.lastEvent("module_list")->complete);
    EXPECT_EQ(h.lastEvent("module_list")->modules.size(), 20u);

    // A report of another size starts over at once as well.
    ChunkPayloads other = buildModuleListChunks(sampleModules(16));
    h.send(PKT_MODULE_LIST, other[0]);
    h.send(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(3))[0]);
    EXPECT_EQ(h.count("module_list"), 4u);
    EXPECT_FALSE(h.events[h.events.size() - 3].complete);
    EXPECT_TRUE(h.lastEvent("module_list")->complete);
}

TEST(RefServerModuleList, EmptyListIsOneCompleteChunk) {
    Harness h;
    h.send(PKT_MODULE_LIST, buildModuleListChunks({})[0]);
    const ServerEvent* e = h.lastEvent("module_list");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->complete);
    EXPECT_TRUE(e->modules.empty());
}

TEST_P(RefServer, ModuleLogReassemblesByTickWithPathsAndMarks) {
    Harness h(opts());
    std::vector<ModuleInfo> mods = sampleModules(7);
    mods[5].path = std::string(300, 'p');  // sent cut to 259
    ChunkPayloads chunks = buildModuleLogChunks(mods, 777);
    ASSERT_EQ(chunks.size(), 3u);
    h.send(PKT_MODULE_LOG, chunks[1]);
    h.send(PKT_MODULE_LOG, chunks[1]);
    h.send(PKT_MODULE_LOG, chunks[0]);
    h.send(PKT_MODULE_LOG, chunks[2]);
    const ServerEvent* e = h.lastEvent("module_log");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->complete);
    ASSERT_EQ(e->modules.size(), 7u);
    EXPECT_EQ(e->modules[5].path, std::string(259, 'p'));
    EXPECT_EQ(e->modules[2].path, "C:\\Games\\CoD4\\mod2.dll");
    EXPECT_TRUE(e->modules[3].suspicious);
    EXPECT_FALSE(e->modules[4].suspicious);
    Json j = parseJson(e->json);
    EXPECT_EQ(j["tick_count"].num, 777);
    EXPECT_EQ(j["duplicates"].num, 1);
    EXPECT_EQ(j["modules"].arr[3]["suspicious"].num, 1);
    EXPECT_EQ(j["modules"].arr[2]["path"].str, "C:\\Games\\CoD4\\mod2.dll");
}

TEST(RefServerModuleLog, AnotherTickStartsANewReport) {
    Harness h;
    std::vector<ModuleInfo> mods = sampleModules(4);
    ChunkPayloads a = buildModuleLogChunks(mods, 100);
    ChunkPayloads b = buildModuleLogChunks(mods, 200);
    h.send(PKT_MODULE_LOG, a[0]);
    h.send(PKT_MODULE_LOG, b[0]);
    h.send(PKT_MODULE_LOG, b[1]);
    ASSERT_EQ(h.count("module_log"), 2u);
    const ServerEvent* done = h.lastEvent("module_log");
    EXPECT_TRUE(done->complete);
    EXPECT_EQ(parseJson(done->json)["tick_count"].num, 200);
    for (const ServerEvent& e : h.events) {
        if (e.name == "module_log" && !e.complete) {
            EXPECT_EQ(parseJson(e.json)["reason"].str, "superseded by a new report");
        }
    }
}

TEST_P(RefServer, ConfigReassemblesInArrivalOrder) {
    Harness h(opts());
    Bytes file = fileBytes(2001);
    ChunkPayloads chunks = buildConfigChunks(file, "Sniper");
    ASSERT_EQ(chunks.size(), 3u);
    for (const Bytes& c : chunks) h.send(PKT_CONFIG_CHUNK, c);
    EXPECT_EQ(h.count("config_chunk"), 3u);
    EXPECT_EQ(h.last("config_chunk")["offset"].num, 1800);
    const ServerEvent* e = h.lastEvent("config");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->complete);
    EXPECT_EQ(e->data, file);
    Json j = parseJson(e->json);
    EXPECT_EQ(j["size"].num, 2001);
    EXPECT_EQ(j["player"].str, "Sniper");
    EXPECT_EQ(j["chunks"].num, 3);
    std::uint8_t digest[16];
    md5Compute(file.data(), file.size(), digest);
    EXPECT_EQ(j["md5"].str, toHex(digest, 16));
    EXPECT_EQ(j["data_base64"].str, base64(file.data(), file.size()));
}

TEST(RefServerConfig, LostMiddleSliceIsIncompleteWhenTheShortLastArrives) {
    Harness h;
    ChunkPayloads chunks = buildConfigChunks(fileBytes(2001), "P");
    h.send(PKT_CONFIG_CHUNK, chunks[0]);
    h.send(PKT_CONFIG_CHUNK, chunks[2]);
    const ServerEvent* e = h.lastEvent("config");
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->complete);
    Json j = parseJson(e->json);
    EXPECT_EQ(j["received_bytes"].num, 1101);
    EXPECT_EQ(j["size"].num, 2001);
    EXPECT_EQ(j["data_base64"].kind, Json::NUL);  // no half file passed off as the file
}

TEST(RefServerConfig, LostLastSliceTimesOutAndOverrunStartsOver) {
    ServerOptions o;
    o.reportTimeoutMs = 1000;
    Harness h(o);
    ChunkPayloads chunks = buildConfigChunks(fileBytes(1800), "P");  // two full slices
    h.send(PKT_CONFIG_CHUNK, chunks[0]);
    h.now += 1000;
    h.tick();
    ASSERT_EQ(h.count("config"), 1u);
    EXPECT_EQ(h.last("config")["reason"].str, "timeout");

    // Two full slices of a 901-byte file cannot both belong to it.
    ChunkPayloads small = buildConfigChunks(fileBytes(901), "P");
    h.send(PKT_CONFIG_CHUNK, small[0]);
    h.send(PKT_CONFIG_CHUNK, small[0]);
    EXPECT_EQ(h.count("config"), 2u);
    EXPECT_EQ(h.last("config")["reason"].str, "more bytes than fileSize: a chunk was lost");
    h.send(PKT_CONFIG_CHUNK, small[1]);
    EXPECT_TRUE(h.lastEvent("config")->complete);
    EXPECT_EQ(h.lastEvent("config")->data, fileBytes(901));
}

TEST(RefServerConfig, ShutdownClosesOpenReportsAsIncomplete) {
    Harness h;
    h.send(PKT_CONFIG_CHUNK, buildConfigChunks(fileBytes(5000), "P")[0]);
    h.send(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(20))[0]);
    h.send(PKT_MODULE_LOG, buildModuleLogChunks(sampleModules(20), 9)[0]);
    h.finish();
    for (const char* name : {"config", "module_list", "module_log"}) {
        Json j = h.last(name);
        EXPECT_FALSE(j["complete"].b) << name;
        EXPECT_EQ(j["reason"].str, "server stopped") << name;
    }
    EXPECT_EQ(serverNextDeadline(h.state), UINT64_MAX);
}

TEST_P(RefServer, HeartbeatIdentityAndMemoryReportFields) {
    Harness h(opts());
    HeartbeatPayload hb{};
    hb.tickCount = 123456;
    hb.processCount = 87;
    hb.debuggerFlag = 1;
    hb.integrityAlertFlag = 1;
    hb.selfCrc = 0xDEADBEEFu;
    hb.uptimeSeconds = 65;
    h.send(PKT_HEARTBEAT, bytesOf(hb));
    Json j = h.last("heartbeat");
    EXPECT_EQ(j["tick_count"].num, 123456);
    EXPECT_EQ(j["process_count"].num, 87);
    EXPECT_EQ(j["debugger"].num, 1);
    EXPECT_EQ(j["module_alert"].num, 0);
    EXPECT_EQ(j["integrity_alert"].num, 1);
    EXPECT_EQ(j["self_crc"].str, "0xdeadbeef");
    EXPECT_EQ(j["uptime_s"].num, 65);
    EXPECT_EQ(j["handshake"].str, "none");

    IdentityPayload id{};
    copyText(id.hwid, "HW");
    copyText(id.guid, "G\"\\\x01\xE9");  // hostile bytes come out escaped
    id.timestamp = 1700000000u;
    h.send(PKT_IDENTITY, bytesOf(id));
    j = h.last("identity");
    EXPECT_EQ(j["guid"].str, "G\"\\\x01\xE9");
    EXPECT_EQ(j["timestamp"].num, 1700000000.0);
    EXPECT_NE(h.lastEvent("identity")->json.find("\"G\\\"\\\\\\u0001\\u00e9\""), std::string::npos);
    EXPECT_NE(h.lastEvent("identity")->summary.find("G\"\\\\x01\\xe9"), std::string::npos);

    MemoryReportPayload mr{};
    mr.address = 0x00401000u;
    mr.size = 4096;
    mr.hitFlag = 1;
    copyText(mr.description, "RWX region");
    h.send(PKT_MEMORY_REPORT, bytesOf(mr));
    j = h.last("memory_report");
    EXPECT_EQ(j["address"].str, "0x00401000");
    EXPECT_EQ(j["size"].num, 4096);
    EXPECT_EQ(j["description"].str, "RWX region");
}

// ---- malformed datagrams ----

Bytes withHeader(std::uint8_t type, const Bytes& payload) {
    return framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), 1, false);
}

TEST(RefServerMalformed, EachBadDatagramIsLoggedWithItsReason) {
    Bytes good = withHeader(PKT_HEARTBEAT, Bytes(20, 0));
    Bytes badMagic = good;
    badMagic[0] = 0x01;
    Bytes badVersion = good;
    badVersion[4] = 2;
    Bytes longer = good;
    longer.push_back(0);  // length field says 20, 21 follow

    ModuleListChunkHeader tooMany{};
    tooMany.entryCount = 16;
    tooMany.chunkCount = 2;
    tooMany.totalEntries = 16;
    Bytes tooManyEntries = bytesOf(tooMany);
    tooManyEntries.resize(8 + 16 * 72);

    ModuleListChunkHeader hugeCount{};
    hugeCount.chunkCount = 65535;  // for an empty report
    ModuleListChunkHeader indexPast{};
    indexPast.entryCount = 1;
    indexPast.chunkIndex = 1;
    indexPast.chunkCount = 1;
    indexPast.totalEntries = 1;
    Bytes indexPastPayload = bytesOf(indexPast);
    indexPastPayload.resize(8 + 72);

    ModuleLogChunkHeader logHead{};
    logHead.entryCount = 3;
    logHead.chunkCount = 1;
    logHead.totalEntries = 3;
    Bytes shortLog = bytesOf(logHead);
    shortLog.resize(12 + 2 * 397);  // three entries announced, two sent

    ConfigChunkHeader cfg{};
    cfg.fileSize = 60000;
    Bytes bigFile = bytesOf(cfg);
    bigFile.resize(940);
    cfg.fileSize = 10;
    Bytes overFull = bytesOf(cfg);
    overFull.resize(40 + 11);

    struct Case {
        const char* what;
        Bytes datagram;
        const char* reason;
    } cases[] = {
        {"empty", Bytes{}, "datagram shorter than the 12-byte header"},
        {"11 bytes", Bytes(good.begin(), good.begin() + 11), "datagram shorter than the 12-byte header"},
        {"magic", badMagic, "bad magic 0x4d414301"},
        {"version", badVersion, "unsupported version 2"},
        {"length", longer, "length field 20 but 21 payload bytes"},
        {"server type", withHeader(PKT_KICK, {}), "server-to-client packet PKT_KICK"},
        {"unknown type", withHeader(99, {}), "unknown packet type 99"},
        {"hello size", withHeader(PKT_HELLO, Bytes(143, 0)), "hello payload is 143 bytes, expected 144"},
        {"heartbeat size", withHeader(PKT_HEARTBEAT, Bytes(24, 0)),
         "heartbeat payload is 24 bytes, expected 20"},
        {"list head", withHeader(PKT_MODULE_LIST, Bytes(7, 0)), "module list chunk shorter than its head"},
        {"entries", withHeader(PKT_MODULE_LIST, tooManyEntries), "entryCount 16 exceeds 15"},
        {"chunk count", withHeader(PKT_MODULE_LIST, bytesOf(hugeCount)),
         "chunkCount 65535 does not fit totalEntries 0"},
        {"chunk index", withHeader(PKT_MODULE_LIST, indexPastPayload), "chunkIndex 1 not below chunkCount 1"},
        {"log size", withHeader(PKT_MODULE_LOG, shortLog),
         "module log chunk payload is 806 bytes, expected 1203"},
        {"config empty", withHeader(PKT_CONFIG_CHUNK, Bytes(40, 0)),
         "config chunk payload is 40 bytes, expected 41 to 940"},
        {"config size", withHeader(PKT_CONFIG_CHUNK, bigFile), "config fileSize 60000 out of 1 to 59999"},
        {"config overfull", withHeader(PKT_CONFIG_CHUNK, overFull), "config chunk holds more than fileSize bytes"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.raw(c.datagram);
        ASSERT_EQ(h.events.size(), 1u) << c.what;
        Json j = h.last("malformed");
        EXPECT_EQ(j["reason"].str, c.reason) << c.what;
        EXPECT_EQ(j["bytes"].num, static_cast<double>(c.datagram.size())) << c.what;
        EXPECT_TRUE(h.replies.empty()) << c.what;
        EXPECT_TRUE(h.state.sessions.empty()) << c.what;
        EXPECT_EQ(h.state.counters.malformed, 1u) << c.what;
    }
}

TEST(RefServerMalformed, EncryptedCountsAreCheckedAfterDecryption) {
    ServerOptions o;
    o.encryption = true;
    Harness h(o);
    // A well-formed chunk sent in clear to an encrypting server decrypts to
    // noise, which the head checks catch.
    Bytes clear = withHeader(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(2))[0]);
    h.raw(clear);
    Json j = h.last("malformed");
    ASSERT_EQ(j.kind, Json::OBJ);
    EXPECT_NE(j["reason"].str.find("(after decryption)"), std::string::npos);
}

// ---- sessions ----

TEST(RefServerSessions, KeyedBySourceAddressAndSessionId) {
    Harness h;
    ChunkPayloads chunks = buildModuleListChunks(sampleModules(20));
    h.send(PKT_MODULE_LIST, chunks[0]);
    h.from.port = 40001;  // another client, same session id
    h.send(PKT_MODULE_LIST, chunks[1]);
    h.sid = 0x99;  // another session from the same address
    h.send(PKT_MODULE_LIST, chunks[0]);
    EXPECT_EQ(h.count("module_list"), 0u);
    EXPECT_EQ(h.state.sessions.size(), 3u);
    h.from.port = 40000;
    h.sid = 0x12345678u;
    h.send(PKT_MODULE_LIST, chunks[1]);
    ASSERT_EQ(h.count("module_list"), 1u);
    EXPECT_EQ(h.last("module_list")["from"].str, "127.0.0.1:40000");
}

TEST(RefServerSessions, LeastRecentlySeenIsDroppedBeyondTheCap) {
    ServerOptions o;
    o.maxSessions = 2;
    Harness h(o);
    h.sid = 1;
    h.send(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(20))[0]);
    h.now += 10;
    h.sid = 2;
    h.send(PKT_HELLO, helloPayload("B"));
    h.now += 10;
    h.sid = 3;
    h.send(PKT_HELLO, helloPayload("C"));
    EXPECT_EQ(h.state.sessions.size(), 2u);
    Json dropped = h.last("module_list");
    EXPECT_EQ(dropped["session"].str, "0x00000001");
    EXPECT_EQ(dropped["reason"].str, "session evicted");
}

// ---- command line ----

TEST(RefServerCommandLine, ParsesEverySwitch) {
    const char* argv[] = {"srv", "--listen", "0.0.0.0", "--port", "0", "--encryption", "--reject",
                          "--silent", "--no-verdict", "--kick-after", "7", "--screenshot-after", "2",
                          "--update-after", "3", "--json", "out.jsonl", "--summary", "--duration",
                          "9", "--report-timeout", "1500", "--max-sessions", "4"};
    ServerCommandLine cmd;
    std::string error;
    ASSERT_TRUE(parseServerCommandLine(static_cast<int>(sizeof argv / sizeof argv[0]), argv, cmd, error))
        << error;
    EXPECT_EQ(cmd.listenIP, "0.0.0.0");
    EXPECT_EQ(cmd.port, 0);
    EXPECT_TRUE(cmd.server.encryption && cmd.server.reject && cmd.server.silent && cmd.server.noVerdict);
    EXPECT_EQ(cmd.server.kickAfterSec, 7);
    EXPECT_EQ(cmd.server.screenshotAfterSec, 2);
    EXPECT_EQ(cmd.server.updateAfterSec, 3);
    EXPECT_EQ(cmd.jsonPath, "out.jsonl");
    EXPECT_TRUE(cmd.summary);
    EXPECT_EQ(cmd.durationSec, 9);
    EXPECT_EQ(cmd.server.reportTimeoutMs, 1500u);
    EXPECT_EQ(cmd.server.maxSessions, 4u);
}

TEST(RefServerCommandLine, RejectsBadValuesAndUnknownSwitches) {
    auto fails = [](std::vector<const char*> args) {
        args.insert(args.begin(), "srv");
        ServerCommandLine cmd;
        std::string error;
        bool ok = parseServerCommandLine(static_cast<int>(args.size()), args.data(), cmd, error);
        return !ok && !error.empty();
    };
    EXPECT_TRUE(fails({"--port", "65536"}));
    EXPECT_TRUE(fails({"--port", "12x"}));
    EXPECT_TRUE(fails({"--kick-after"}));
    EXPECT_TRUE(fails({"--kick-after", "-1"}));
    EXPECT_TRUE(fails({"--json"}));
    EXPECT_TRUE(fails({"--verbose"}));
    EXPECT_FALSE(fails({"--kick-after", "0"}));
}

// ---- JSON text ----

TEST(RefServerJson, WireBytesBecomeAsciiEscapes) {
    std::string raw("a\"b\\c\n\x01\x7f\xff", 9);
    EXPECT_EQ(jsonString(raw), "\"a\\\"b\\\\c\\u000a\\u0001\\u007f\\u00ff\"");
    EXPECT_EQ(parseJson(jsonString(raw)).str, raw);
    char field[4] = {'a', 'b', 'c', 'd'};  // no terminator: all four bytes, no more
    EXPECT_EQ(fieldText(field, sizeof field), "abcd");
}

TEST(RefServerJson, Base64MatchesRfc4648Vectors) {
    const char* in[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* out[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(base64(reinterpret_cast<const std::uint8_t*>(in[i]), std::strlen(in[i])), out[i]);
}

// ---- end to end: the real client against the real loop ----

struct LiveServer {
    int sock = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<ServerEvent> events;
    std::thread thread;

    explicit LiveServer(ServerOptions o) {
        std::string error;
        sock = openServerSocket("127.0.0.1", 0, port, error);
        EXPECT_GE(sock, 0) << error;
        ServerLoopConfig cfg;
        cfg.sock = sock;
        cfg.options = o;
        cfg.onEvent = [this](const ServerEvent& e) {
            std::lock_guard<std::mutex> g(lock);
            events.push_back(e);
        };
        thread = std::thread([this, cfg] { runServerLoop(cfg, stop); });
    }
    ~LiveServer() {
        stop.store(true);
        thread.join();
        if (sock >= 0) ::close(sock);
    }
    // Waits up to timeoutMs for an event of that name; false if none came.
    bool waitFor(const std::string& name, ServerEvent& found, int timeoutMs = 3000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard<std::mutex> g(lock);
                for (const ServerEvent& e : events)
                    if (e.name == name) {
                        found = e;
                        return true;
                    }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

// The client's handshake as the session runs it; returns the verdict type.
int handshake(UDPClient& client, const std::string& player) {
    Bytes hello = helloPayload(player);
    client.sendPacket(PKT_HELLO, hello.data(), static_cast<std::uint16_t>(hello.size()));
    ACPacketHeader header{};
    std::uint8_t buffer[1024];
    std::int32_t n = client.receivePacket(header, buffer, sizeof buffer);
    if (n < 0 || header.type != PKT_CHALLENGE) return -1;
    std::uint8_t challenge[32];
    if (!clientChallengeFromPayload(buffer, n, sizeof buffer, challenge)) return -1;
    Bytes response = responsePayload(challenge);
    client.sendPacket(PKT_CHALLENGE_RESPONSE, response.data(), static_cast<std::uint16_t>(response.size()));
    n = client.receivePacket(header, buffer, sizeof buffer);
    return n < 0 ? -1 : header.type;
}

TEST_P(RefServer, EndToEndHandshakeAndReportUploadWithTheRealClient) {
    LiveServer server(opts());
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port, GetParam()));
    ASSERT_EQ(handshake(client, "E2E"), PKT_VERIFY_OK);

    std::vector<ModuleInfo> mods = sampleModules(17);
    sendModules(client, mods);
    sendModuleLog(client, mods);
    Bytes file = fileBytes(1234);
    EXPECT_EQ(sendPlayerConfig(client, file, "E2E"), 2);

    ServerEvent e;
    ASSERT_TRUE(server.waitFor("challenge_response", e));
    EXPECT_TRUE(parseJson(e.json)["answer_ok"].b);
    ASSERT_TRUE(server.waitFor("module_list", e));
    EXPECT_TRUE(e.complete);
    EXPECT_EQ(e.modules.size(), 17u);
    ASSERT_TRUE(server.waitFor("module_log", e));
    EXPECT_TRUE(e.complete);
    ASSERT_EQ(e.modules.size(), 17u);
    EXPECT_EQ(e.modules[16].path, mods[16].path);
    ASSERT_TRUE(server.waitFor("config", e));
    EXPECT_TRUE(e.complete);
    EXPECT_EQ(e.data, file);
    Json j = parseJson(e.json);
    EXPECT_EQ(j["session"].str, hex32(client.session()));
}

TEST(RefServerEndToEnd, KickTimerReachesTheClientOnTime) {
    ServerOptions o;
    o.kickAfterSec = 1;
    o.screenshotAfterSec = 0;
    LiveServer server(o);
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port, false));
    ASSERT_EQ(handshake(client, "K"), PKT_VERIFY_OK);
    auto verdict = std::chrono::steady_clock::now();
    ACPacketHeader header{};
    std::uint8_t buffer[4096];
    ASSERT_GE(client.receivePacket(header, buffer, sizeof buffer), 0);
    EXPECT_EQ(header.type, PKT_SCREENSHOT_REQUEST);
    ASSERT_GE(client.receivePacket(header, buffer, sizeof buffer), 0);
    EXPECT_EQ(header.type, PKT_KICK);
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - verdict)
                       .count();
    EXPECT_GE(ms, 850);
    EXPECT_LE(ms, 1500);
}

TEST(RefServerEndToEnd, SilentServerLeavesTheClientWithoutChallenge) {
    ServerOptions o;
    o.silent = true;
    LiveServer server(o);
    UDPClient client;
    ASSERT_TRUE(client.open("127.0.0.1", server.port, false));
    Bytes hello = helloPayload("S");
    client.sendPacket(PKT_HELLO, hello.data(), static_cast<std::uint16_t>(hello.size()));
    ServerEvent e;
    ASSERT_TRUE(server.waitFor("hello", e));
    // Nothing comes back: the server's own words are the proof (a client
    // receive would wait the full 5 s).
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(server.waitFor("sent", e, 1));
}

}  // namespace
}  // namespace marvik
