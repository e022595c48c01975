// What the server does with each packet type: one table from the type to the
// rule its payload's size must meet and the handler it goes to. A datagram
// passes the header checks, is decrypted, meets its size rule and only then
// reaches a session, so a handler never sees a payload it cannot read.
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "inventory/hash.h"
#include "net/packets.h"
#include "net/rc4.h"
#include "net/udp_client.h"
#include "report_assembly.h"
#include "session/challenge.h"
#include "sessions.h"

namespace marvik {

namespace {

std::string expectSize(std::size_t len, std::size_t want, const char* what) {
    if (len == want) return std::string();
    return std::string(what) + " payload is " + std::to_string(len) + " bytes, expected " +
           std::to_string(want);
}

template <typename Payload>
std::string exactSize(const char* what, const std::uint8_t*, std::size_t len) {
    return expectSize(len, sizeof(Payload), what);
}

// Checks a chunk head against the cutting rule, so counts that no client
// could send are refused before anything is stored; then the size its entry
// count implies.
template <typename Head, typename Entry, std::uint16_t PER_CHUNK>
std::string moduleChunkSize(const char* what, const std::uint8_t* p, std::size_t len) {
    if (len < sizeof(Head)) return std::string(what) + " shorter than its head";
    Head h;
    std::memcpy(&h, p, sizeof h);
    std::uint32_t total = h.totalEntries;
    std::uint32_t expectCount = total == 0 ? 1u : (total + PER_CHUNK - 1u) / PER_CHUNK;
    if (h.entryCount > PER_CHUNK)
        return "entryCount " + std::to_string(h.entryCount) + " exceeds " + std::to_string(PER_CHUNK);
    if (h.chunkCount != expectCount)
        return "chunkCount " + std::to_string(h.chunkCount) + " does not fit totalEntries " +
               std::to_string(total);
    if (h.chunkIndex >= h.chunkCount)
        return "chunkIndex " + std::to_string(h.chunkIndex) + " not below chunkCount " +
               std::to_string(h.chunkCount);
    std::uint32_t rest = total - static_cast<std::uint32_t>(h.chunkIndex) * PER_CHUNK;
    std::uint32_t expectEntries = rest < PER_CHUNK ? rest : PER_CHUNK;
    if (h.entryCount != expectEntries)
        return "entryCount " + std::to_string(h.entryCount) + " in chunk " +
               std::to_string(h.chunkIndex) + " should be " + std::to_string(expectEntries);
    return expectSize(len, sizeof h + h.entryCount * sizeof(Entry), what);
}

std::string configChunkSize(const char*, const std::uint8_t* p, std::size_t len) {
    if (len <= sizeof(ConfigChunkHeader) || len > sizeof(ConfigChunkHeader) + CONFIG_CHUNK_DATA_SIZE)
        return "config chunk payload is " + std::to_string(len) + " bytes, expected 41 to 940";
    ConfigChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    if (h.fileSize == 0 || h.fileSize > CONFIG_MAX_FILE_SIZE)
        return "config fileSize " + std::to_string(h.fileSize) + " out of 1 to 59999";
    if (len - sizeof h > h.fileSize) return "config chunk holds more than fileSize bytes";
    return std::string();
}

bool answerMatches(const std::uint8_t (&challenge)[AC_CHALLENGE_SIZE], const std::uint8_t* answer) {
    std::uint8_t expected[AC_ANSWER_SIZE];
    computeChallengeAnswer(challenge, expected);
    return std::memcmp(expected, answer, sizeof expected) == 0;
}

void systemRandom(std::uint8_t* out, std::size_t n) {
    std::random_device rd;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(rd());
}

void onHello(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t) {
    HelloPayload h;
    std::memcpy(&h, p, sizeof h);
    bool retry = cs.challenged;
    std::string player = fieldText(h.playerName, sizeof h.playerName);
    std::string guid = fieldText(h.guid, sizeof h.guid);
    char version[16];
    std::snprintf(version, sizeof version, "0x%x", static_cast<unsigned>(h.clientVersion));
    EventBuilder b = beginEvent(c, "hello");
    addPeer(b, cs);
    jsonAddString(b.json, "player", player);
    jsonAddUint(b.json, "port", h.serverPort);
    jsonAddString(b.json, "version", version);
    jsonAddString(b.json, "hwid", fieldText(h.hwid, sizeof h.hwid));
    jsonAddString(b.json, "guid", guid);
    jsonAddBool(b.json, "retry", retry);
    b.summary += std::string("hello") + (retry ? " (again)" : "") + " player=" + printable(player) +
                 " version=" + version + " guid=" + printable(guid);
    emitEvent(c, b);

    // A repeated hello of the same session gets the same challenge, so a
    // late first challenge and a second one never disagree.
    const ServerOptions& o = c.state.options;
    if (!cs.challenged) {
        (o.fillRandom != nullptr ? o.fillRandom : systemRandom)(cs.challenge, sizeof cs.challenge);
        cs.challenged = true;
    }
    if (cs.state == HS_NONE) cs.state = HS_CHALLENGED;
    if (!o.silent) sendReply(c, cs, PKT_CHALLENGE, cs.challenge, sizeof cs.challenge, "hello");
}

void onChallengeResponse(const ServerCall& c, ClientSession& cs, const std::uint8_t* p,
                         std::size_t) {
    ChallengeResponsePayload r;
    std::memcpy(&r, p, sizeof r);
    const ServerOptions& o = c.state.options;
    bool answerOk = cs.challenged && answerMatches(cs.challenge, r.answer);
    std::string problem;
    if (!cs.challenged) {
        problem = "no challenge issued to this session";
    } else if (!answerOk) {
        // Tell a wrong secret from a client whose encryption setting differs
        // from ours: the same RC4 pass that decrypts also undoes a decryption,
        // so it reads the bytes the other way, and the answer is tried again.
        std::uint8_t other[sizeof r];
        std::memcpy(other, p, sizeof other);
        rc4_crypt(other, static_cast<int>(sizeof other), AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
        if (!answerMatches(cs.challenge, other))
            problem = "answer mismatch";
        else if (o.encryption)
            problem = "answer mismatch: client sends without encryption";
        else
            problem = "answer mismatch: client sends with encryption";
    }
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%02x", r.integrityFlags);
    EventBuilder b = beginEvent(c, "challenge_response");
    addPeer(b, cs);
    jsonAddBool(b.json, "answer_ok", answerOk);
    if (!answerOk) jsonAddString(b.json, "reason", problem);
    jsonAddString(b.json, "answer", toHex(r.answer, 32));
    jsonAddHex(b.json, "self_crc", r.selfCrc);
    jsonAddHex(b.json, "game_crc", r.gameCrc);
    jsonAddUint(b.json, "integrity_flags", r.integrityFlags);
    b.summary += std::string("challenge response ") + (answerOk ? "OK" : "BAD (" + problem + ")") +
                 " self_crc=" + hex32(r.selfCrc) + " game_crc=" + hex32(r.gameCrc) +
                 " flags=" + flags;
    emitEvent(c, b);

    if (o.silent) return;
    if (o.noVerdict) {
        cs.state = HS_NO_VERDICT;
    } else if (o.reject || !answerOk) {
        cs.state = HS_REJECTED;
        sendKick(c, cs, o.reject ? "rejected" : "bad answer");
        return;
    } else {
        cs.state = HS_VERIFIED;
        sendReply(c, cs, PKT_VERIFY_OK, nullptr, 0, "answer ok");
    }
    // Command timers count from the verdict, or from the response when no
    // verdict is sent.
    cs.timersArmed = true;
    cs.timerBaseMs = c.nowMs;
}

const char* handshakeText(HandshakeState st) {
    static const char* const NAMES[] = {"none",     "challenged", "verified",
                                        "rejected", "no_verdict", "kicked"};
    return NAMES[st];
}

void onHeartbeat(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t) {
    HeartbeatPayload h;
    std::memcpy(&h, p, sizeof h);
    EventBuilder b = beginEvent(c, "heartbeat");
    addPeer(b, cs);
    jsonAddString(b.json, "handshake", handshakeText(cs.state));
    jsonAddUint(b.json, "tick_count", h.tickCount);
    jsonAddUint(b.json, "process_count", h.processCount);
    jsonAddUint(b.json, "debugger", h.debuggerFlag);
    jsonAddUint(b.json, "module_alert", h.moduleAlertFlag);
    jsonAddUint(b.json, "integrity_alert", h.integrityAlertFlag);
    jsonAddUint(b.json, "reserved", h.reserved);
    jsonAddHex(b.json, "self_crc", h.selfCrc);
    jsonAddUint(b.json, "uptime_s", h.uptimeSeconds);
    b.summary += "heartbeat uptime=" + std::to_string(h.uptimeSeconds) +
                 "s processes=" + std::to_string(h.processCount) +
                 " debugger=" + std::to_string(h.debuggerFlag) +
                 " module_alert=" + std::to_string(h.moduleAlertFlag) +
                 " integrity_alert=" + std::to_string(h.integrityAlertFlag) +
                 " self_crc=" + hex32(h.selfCrc);
    emitEvent(c, b);
}

void onMemoryReport(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t) {
    MemoryReportPayload m;
    std::memcpy(&m, p, sizeof m);
    std::string text = fieldText(m.description, sizeof m.description);
    EventBuilder b = beginEvent(c, "memory_report");
    addPeer(b, cs);
    jsonAddHex(b.json, "address", m.address);
    jsonAddUint(b.json, "size", m.size);
    jsonAddUint(b.json, "hit_flag", m.hitFlag);
    jsonAddString(b.json, "description", text);
    b.summary += "memory report at " + hex32(m.address) + " size " + std::to_string(m.size) +
                 ": " + printable(text);
    emitEvent(c, b);
}

void onIdentity(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t) {
    IdentityPayload id;
    std::memcpy(&id, p, sizeof id);
    std::string hwid = fieldText(id.hwid, sizeof id.hwid);
    std::string guid = fieldText(id.guid, sizeof id.guid);
    EventBuilder b = beginEvent(c, "identity");
    addPeer(b, cs);
    jsonAddString(b.json, "hwid", hwid);
    jsonAddString(b.json, "guid", guid);
    jsonAddUint(b.json, "timestamp", id.timestamp);
    b.summary += "identity guid=" + printable(guid) + " hwid=" + printable(hwid);
    emitEvent(c, b);
}

struct PacketRule {
    std::uint8_t type;
    const char* name;
    const char* what;  // the payload as a malformed reason names it
    // Returns why the payload cannot be read, or an empty text.
    std::string (*sizeProblem)(const char* what, const std::uint8_t* p, std::size_t len);
    // Null for the types only the server sends.
    void (*handle)(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t len);
};

const PacketRule PACKET_RULES[] = {
    {PKT_HELLO, "PKT_HELLO", "hello", exactSize<HelloPayload>, onHello},
    {PKT_CHALLENGE, "PKT_CHALLENGE", nullptr, nullptr, nullptr},
    {PKT_CHALLENGE_RESPONSE, "PKT_CHALLENGE_RESPONSE", "challenge response",
     exactSize<ChallengeResponsePayload>, onChallengeResponse},
    {PKT_VERIFY_OK, "PKT_VERIFY_OK", nullptr, nullptr, nullptr},
    {PKT_HEARTBEAT, "PKT_HEARTBEAT", "heartbeat", exactSize<HeartbeatPayload>, onHeartbeat},
    {PKT_MODULE_LIST, "PKT_MODULE_LIST", "module list chunk",
     moduleChunkSize<ModuleListChunkHeader, ModuleListEntry, MODULE_LIST_ENTRIES_PER_CHUNK>,
     onModuleListChunk},
    {PKT_KICK, "PKT_KICK", nullptr, nullptr, nullptr},
    {PKT_MEMORY_REPORT, "PKT_MEMORY_REPORT", "memory report", exactSize<MemoryReportPayload>,
     onMemoryReport},
    {PKT_IDENTITY, "PKT_IDENTITY", "identity", exactSize<IdentityPayload>, onIdentity},
    {PKT_MODULE_LOG, "PKT_MODULE_LOG", "module log chunk",
     moduleChunkSize<ModuleLogChunkHeader, ModuleLogEntry, MODULE_LOG_ENTRIES_PER_CHUNK>,
     onModuleLogChunk},
    {PKT_SCREENSHOT_REQUEST, "PKT_SCREENSHOT_REQUEST", nullptr, nullptr, nullptr},
    {PKT_UPDATE_AVAILABLE, "PKT_UPDATE_AVAILABLE", nullptr, nullptr, nullptr},
    {PKT_CONFIG_CHUNK, "PKT_CONFIG_CHUNK", "config chunk", configChunkSize, onConfigChunk},
};

const PacketRule* ruleFor(std::uint8_t type) {
    for (const PacketRule& r : PACKET_RULES)
        if (r.type == type) return &r;
    return nullptr;
}

// Returns why a datagram's header or type is refused, or an empty text.
std::string headerProblem(const ACPacketHeader& h, std::size_t n, const PacketRule* rule) {
    if (n < AC_HEADER_SIZE) return "datagram shorter than the 12-byte header";
    if (h.magic != AC_PACKET_MAGIC) return "bad magic " + hex32(h.magic);
    if (h.version != AC_PROTOCOL_VERSION) return "unsupported version " + std::to_string(h.version);
    if (h.length != n - AC_HEADER_SIZE)
        return "length field " + std::to_string(h.length) + " but " +
               std::to_string(n - AC_HEADER_SIZE) + " payload bytes";
    if (rule == nullptr) return "unknown packet type " + std::to_string(h.type);
    if (rule->handle == nullptr) return std::string("server-to-client packet ") + rule->name;
    return std::string();
}

}  // namespace

const char* packetTypeName(std::uint8_t type) {
    const PacketRule* rule = ruleFor(type);
    return rule != nullptr ? rule->name : "unknown";
}

void serverHandleDatagram(ServerState& s, const std::uint8_t* bytes, std::size_t n,
                          const Endpoint& from, std::uint64_t nowMs, ServerOutput& out) {
    ServerCall c{s, out, nowMs};
    ++s.counters.datagrams;
    ACPacketHeader h{};
    if (n >= AC_HEADER_SIZE) std::memcpy(&h, bytes, AC_HEADER_SIZE);
    const PacketRule* rule = ruleFor(h.type);
    std::string problem = headerProblem(h, n, rule);
    if (!problem.empty()) return emitMalformed(c, from, n, problem);

    std::vector<std::uint8_t> payload(bytes + AC_HEADER_SIZE, bytes + n);
    std::size_t len = payload.size();
    bool encrypted = s.options.encryption && isEncryptedType(h.type);
    if (encrypted && len > 0)
        rc4_crypt(payload.data(), static_cast<int>(len), AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    problem = rule->sizeProblem(rule->what, payload.data(), len);
    if (!problem.empty())
        return emitMalformed(c, from, n, encrypted ? problem + " (after decryption)" : problem);
    rule->handle(c, sessionFor(c, from, h.sessionId), payload.data(), len);
}

}  // namespace marvik
