// What the server does with each packet type: one table from the type to the
// rule its payload's size must meet and the handler it goes to. A datagram
// passes the header checks, is decrypted, meets its size rule and only then
// reaches a session, so a handler never sees a payload it cannot read.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/packets.h"
#include "net/rc4.h"
#include "server_state.h"
#include "session/challenge.h"

namespace marvik {

namespace {

bool isEncryptedType(std::uint8_t type) { return type != PKT_HELLO && type != PKT_CHALLENGE; }

std::string hexText(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
    return buf;
}

std::string expectSize(std::size_t len, std::size_t want, const char* what) {
    if (len == want) return std::string();
    return std::string(what) + " payload is " + std::to_string(len) + " bytes, expected " + std::to_string(want);
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
        return "chunkCount " + std::to_string(h.chunkCount) + " does not fit totalEntries " + std::to_string(total);
    if (h.chunkIndex >= h.chunkCount)
        return "chunkIndex " + std::to_string(h.chunkIndex) + " not below chunkCount " + std::to_string(h.chunkCount);
    std::uint32_t rest = total - static_cast<std::uint32_t>(h.chunkIndex) * PER_CHUNK;
    std::uint32_t expectEntries = rest < PER_CHUNK ? rest : PER_CHUNK;
    if (h.entryCount != expectEntries)
        return "entryCount " + std::to_string(h.entryCount) + " in chunk " + std::to_string(h.chunkIndex) +
               " should be " + std::to_string(expectEntries);
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
    // Every byte compared, so the time taken tells nothing of where they differ.
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < sizeof expected; ++i) diff = static_cast<std::uint8_t>(diff | (expected[i] ^ answer[i]));
    return diff == 0;
}

void onHello(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t, std::uint64_t nowMs) {
    HelloPayload h;
    std::memcpy(&h, p, sizeof h);
    mvs_event& e = queueEvent(s, MVS_EV_HELLO, &cs, nowMs).e;
    copyField(e.hello.player, h.playerName, sizeof h.playerName);
    e.hello.server_port = h.serverPort;
    e.hello.client_version = h.clientVersion;
    copyField(e.hello.hwid, h.hwid, sizeof h.hwid);
    copyField(e.hello.guid, h.guid, sizeof h.guid);
    e.hello.retry = cs.challenged;

    // A repeated hello of the same session gets the same challenge, so a
    // late first challenge and a second one never disagree.
    if (!cs.challenged) {
        const mvs_options& o = s.options;
        int (*fill)(void*, std::uint8_t*, std::size_t) = o.fill_random != nullptr ? o.fill_random : systemRandom;
        cs.challenged = fill(o.random_context, cs.challenge, sizeof cs.challenge) == 1;
    }
    if (!cs.challenged) return;
    if (cs.state == MVS_HS_NONE) cs.state = MVS_HS_CHALLENGED;
    e.handshake = cs.state;
    queueSend(s, cs, PKT_CHALLENGE, cs.challenge, sizeof cs.challenge, nowMs);
}

void onChallengeResponse(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t,
                         std::uint64_t nowMs) {
    ChallengeResponsePayload r;
    std::memcpy(&r, p, sizeof r);
    bool answerOk = cs.challenged && answerMatches(cs.challenge, r.answer);
    const char* problem = "";
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
        else if (s.options.encryption)
            problem = "answer mismatch: client sends without encryption";
        else
            problem = "answer mismatch: client sends with encryption";
    }
    if (cs.state == MVS_HS_CHALLENGED) cs.state = MVS_HS_ANSWERED;
    QueuedEvent& q = queueEvent(s, MVS_EV_ANSWER, &cs, nowMs);
    q.reason = problem;
    q.e.answer.verified = answerOk;
    std::memcpy(q.e.answer.answer, r.answer, sizeof r.answer);
    q.e.answer.self_crc = r.selfCrc;
    q.e.answer.game_crc = r.gameCrc;
    q.e.answer.integrity_flags = r.integrityFlags;
}

void onHeartbeat(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t, std::uint64_t nowMs) {
    HeartbeatPayload h;
    std::memcpy(&h, p, sizeof h);
    mvs_event& e = queueEvent(s, MVS_EV_HEARTBEAT, &cs, nowMs).e;
    e.heartbeat.tick_count = h.tickCount;
    e.heartbeat.process_count = h.processCount;
    e.heartbeat.debugger_flag = h.debuggerFlag;
    e.heartbeat.module_alert_flag = h.moduleAlertFlag;
    e.heartbeat.integrity_alert_flag = h.integrityAlertFlag;
    e.heartbeat.reserved = h.reserved;
    e.heartbeat.self_crc = h.selfCrc;
    e.heartbeat.uptime_seconds = h.uptimeSeconds;
}

void onMemoryReport(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t, std::uint64_t nowMs) {
    MemoryReportPayload m;
    std::memcpy(&m, p, sizeof m);
    mvs_event& e = queueEvent(s, MVS_EV_MEMORY_REPORT, &cs, nowMs).e;
    e.memory.address = m.address;
    e.memory.size = m.size;
    e.memory.hit_flag = m.hitFlag;
    copyField(e.memory.description, m.description, sizeof m.description);
}

void onIdentity(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t, std::uint64_t nowMs) {
    IdentityPayload id;
    std::memcpy(&id, p, sizeof id);
    mvs_event& e = queueEvent(s, MVS_EV_IDENTITY, &cs, nowMs).e;
    copyField(e.identity.hwid, id.hwid, sizeof id.hwid);
    copyField(e.identity.guid, id.guid, sizeof id.guid);
    e.identity.timestamp = id.timestamp;
}

struct PacketRule {
    std::uint8_t type;
    const char* name;
    const char* what;  // the payload as a malformed reason names it
    // Returns why the payload cannot be read, or an empty text.
    std::string (*sizeProblem)(const char* what, const std::uint8_t* p, std::size_t len);
    // Null for the types only the server sends.
    void (*handle)(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len, std::uint64_t nowMs);
};

const PacketRule PACKET_RULES[] = {
    {PKT_HELLO, "PKT_HELLO", "hello", exactSize<HelloPayload>, onHello},
    {PKT_CHALLENGE, "PKT_CHALLENGE", nullptr, nullptr, nullptr},
    {PKT_CHALLENGE_RESPONSE, "PKT_CHALLENGE_RESPONSE", "challenge response", exactSize<ChallengeResponsePayload>,
     onChallengeResponse},
    {PKT_VERIFY_OK, "PKT_VERIFY_OK", nullptr, nullptr, nullptr},
    {PKT_HEARTBEAT, "PKT_HEARTBEAT", "heartbeat", exactSize<HeartbeatPayload>, onHeartbeat},
    {PKT_MODULE_LIST, "PKT_MODULE_LIST", "module list chunk",
     moduleChunkSize<ModuleListChunkHeader, ModuleListEntry, MODULE_LIST_ENTRIES_PER_CHUNK>, onModuleListChunk},
    {PKT_KICK, "PKT_KICK", nullptr, nullptr, nullptr},
    {PKT_MEMORY_REPORT, "PKT_MEMORY_REPORT", "memory report", exactSize<MemoryReportPayload>, onMemoryReport},
    {PKT_IDENTITY, "PKT_IDENTITY", "identity", exactSize<IdentityPayload>, onIdentity},
    {PKT_MODULE_LOG, "PKT_MODULE_LOG", "module log chunk",
     moduleChunkSize<ModuleLogChunkHeader, ModuleLogEntry, MODULE_LOG_ENTRIES_PER_CHUNK>, onModuleLogChunk},
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
    if (h.magic != AC_PACKET_MAGIC) return "bad magic " + hexText(h.magic);
    if (h.version != AC_PROTOCOL_VERSION) return "unsupported version " + std::to_string(h.version);
    if (h.length != n - AC_HEADER_SIZE)
        return "length field " + std::to_string(h.length) + " but " + std::to_string(n - AC_HEADER_SIZE) +
               " payload bytes";
    if (rule == nullptr) return "unknown packet type " + std::to_string(h.type);
    if (rule->handle == nullptr) return std::string("server-to-client packet ") + rule->name;
    return std::string();
}

void queueMalformed(mvs_server& s, const mvs_addr& from, std::size_t n, std::string reason, std::uint64_t nowMs) {
    QueuedEvent& q = queueEvent(s, MVS_EV_MALFORMED, nullptr, nowMs);
    q.e.peer.addr = from;
    q.e.malformed.size = n;
    q.reason = std::move(reason);
}

}  // namespace

void queueSend(mvs_server& s, const ClientSession& cs, std::uint8_t type, const void* payload, std::size_t length,
               std::uint64_t nowMs) {
    QueuedEvent& q = queueEvent(s, MVS_EV_SEND, &cs, nowMs);
    ACPacketHeader header{};
    header.magic = AC_PACKET_MAGIC;
    header.version = AC_PROTOCOL_VERSION;
    header.type = type;
    header.length = static_cast<std::uint16_t>(length);
    header.sessionId = cs.peer.session_id;
    q.bytes.resize(AC_HEADER_SIZE + length);
    std::memcpy(q.bytes.data(), &header, sizeof header);
    if (length > 0) std::memcpy(q.bytes.data() + AC_HEADER_SIZE, payload, length);
    if (s.options.encryption && isEncryptedType(type))
        rc4_crypt(q.bytes.data() + AC_HEADER_SIZE, static_cast<std::int32_t>(length), AC_ENCRYPT_KEY,
                  AC_ENCRYPT_KEY_LENGTH);
    q.e.send.type = type;
}

void handleDatagram(mvs_server& s, const std::uint8_t* bytes, std::size_t n, const mvs_addr& from,
                    std::uint64_t nowMs) {
    ACPacketHeader h{};
    if (n >= AC_HEADER_SIZE) std::memcpy(&h, bytes, AC_HEADER_SIZE);
    const PacketRule* rule = ruleFor(h.type);
    std::string problem = headerProblem(h, n, rule);
    if (!problem.empty()) return queueMalformed(s, from, n, problem, nowMs);

    std::vector<std::uint8_t> payload(bytes + AC_HEADER_SIZE, bytes + n);
    std::size_t len = payload.size();
    bool encrypted = s.options.encryption && isEncryptedType(h.type);
    if (encrypted && len > 0)
        rc4_crypt(payload.data(), static_cast<std::int32_t>(len), AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    problem = rule->sizeProblem(rule->what, payload.data(), len);
    if (!problem.empty()) return queueMalformed(s, from, n, encrypted ? problem + " (after decryption)" : problem, nowMs);
    rule->handle(s, sessionFor(s, from, h.sessionId, nowMs), payload.data(), len, nowMs);
}

}  // namespace marvik

extern "C" const char* mvs_packet_name(uint8_t type) {
    const marvik::PacketRule* rule = marvik::ruleFor(type);
    return rule != nullptr ? rule->name : "unknown";
}
