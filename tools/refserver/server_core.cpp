#include "server_core.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "answer_check.h"
#include "inventory/hash.h"
#include "json_lines.h"
#include "net/packets.h"
#include "net/rc4.h"
#include "net/udp_client.h"

namespace marvik {

namespace {

constexpr std::size_t HEADER_SIZE = AC_HEADER_SIZE;
constexpr std::uint16_t LIST_ENTRIES_PER_CHUNK = MODULE_LIST_ENTRIES_PER_CHUNK;
constexpr std::uint16_t LOG_ENTRIES_PER_CHUNK = MODULE_LOG_ENTRIES_PER_CHUNK;
constexpr std::uint32_t CONFIG_SLICE = CONFIG_CHUNK_DATA_SIZE;
constexpr std::uint32_t CONFIG_MAX_FILE = CONFIG_MAX_FILE_SIZE;

void systemRandom(std::uint8_t* out, std::size_t n) {
    std::random_device rd;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(rd());
}

// The fields every event starts with; the caller adds its own and finishes.
struct EventBuilder {
    JsonObject json;
    std::string summary;
};

EventBuilder beginEvent(const ServerState& s, const char* name, std::uint64_t nowMs) {
    EventBuilder b;
    jsonAddString(b.json, "event", name);
    jsonAddUint(b.json, "t_ms", nowMs - s.startMs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8.3f ", static_cast<double>(nowMs - s.startMs) / 1000.0);
    b.summary = buf;
    return b;
}

void addPeer(EventBuilder& b, const Endpoint& from, std::uint32_t sessionId) {
    jsonAddString(b.json, "from", endpointText(from));
    jsonAddHex(b.json, "session", sessionId);
    b.summary += endpointText(from) + " " + hex32(sessionId) + " ";
}

ServerEvent finishEvent(const char* name, EventBuilder& b) {
    ServerEvent e;
    e.name = name;
    e.json = jsonFinish(b.json);
    e.summary = b.summary;
    return e;
}

// Readable form of a wire text for the summary: printable ASCII kept,
// anything else as \xNN, so a hostile name cannot drive the terminal.
std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

const char* stateName(HandshakeState st) {
    switch (st) {
        case HS_NONE: return "none";
        case HS_CHALLENGED: return "challenged";
        case HS_VERIFIED: return "verified";
        case HS_REJECTED: return "rejected";
        case HS_NO_VERDICT: return "no_verdict";
        case HS_KICKED: return "kicked";
    }
    return "none";
}

void emitMalformed(ServerState& s, const Endpoint& from, std::size_t n, const std::string& reason,
                   std::uint64_t nowMs, ServerOutput& out) {
    ++s.counters.malformed;
    EventBuilder b = beginEvent(s, "malformed", nowMs);
    jsonAddString(b.json, "from", endpointText(from));
    jsonAddUint(b.json, "bytes", n);
    jsonAddString(b.json, "reason", reason);
    b.summary += endpointText(from) + " MALFORMED (" + std::to_string(n) + " bytes): " + reason;
    out.events.push_back(finishEvent("malformed", b));
}

void sendReply(ServerState& s, ClientSession& cs, std::uint8_t type, const std::uint8_t* payload,
               std::size_t length, const char* why, std::uint64_t nowMs, ServerOutput& out) {
    OutDatagram d;
    d.to = cs.from;
    // The client's own framing: the reply follows the same encryption rule.
    d.bytes = framePacket(type, payload, static_cast<std::uint16_t>(length), cs.sessionId,
                          s.options.encryption);
    ++s.counters.repliesSent;
    EventBuilder b = beginEvent(s, "sent", nowMs);
    jsonAddString(b.json, "to", endpointText(cs.from));
    jsonAddHex(b.json, "session", cs.sessionId);
    jsonAddString(b.json, "packet", packetTypeName(type));
    jsonAddUint(b.json, "type", type);
    jsonAddUint(b.json, "bytes", d.bytes.size());
    jsonAddString(b.json, "why", why);
    if (type == PKT_CHALLENGE) jsonAddString(b.json, "challenge", hexBytes(cs.challenge, 32));
    b.summary += endpointText(cs.from) + " " + hex32(cs.sessionId) + " <- " +
                 packetTypeName(type) + " (" + why + ")";
    out.events.push_back(finishEvent("sent", b));
    out.replies.push_back(std::move(d));
}

void sendKick(ServerState& s, ClientSession& cs, const char* why, std::uint64_t nowMs,
              ServerOutput& out) {
    // The client never reads a kick's payload; the reason helps whoever
    // watches the wire.
    sendReply(s, cs, PKT_KICK, reinterpret_cast<const std::uint8_t*>(why), std::strlen(why), why,
              nowMs, out);
}

// ---- finished reports ----

std::vector<std::string> missingChunks(const ChunkedReport& r) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < r.have.size(); ++i)
        if (!r.have[i]) missing.push_back(std::to_string(i));
    return missing;
}

std::string jsonArrayOf(const std::vector<std::string>& items) {
    std::string a = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) a += ',';
        a += items[i];
    }
    return a + "]";
}

void addReportFields(EventBuilder& b, const ChunkedReport& r, bool complete, const char* reason) {
    jsonAddBool(b.json, "complete", complete);
    if (!complete) jsonAddString(b.json, "reason", reason);
    jsonAddUint(b.json, "chunk_count", r.chunkCount);
    jsonAddUint(b.json, "chunks_received", r.received);
    jsonAddUint(b.json, "total_entries", r.totalEntries);
    jsonAddUint(b.json, "duplicates", r.duplicates);
    jsonAddRaw(b.json, "missing_chunks", jsonArrayOf(missingChunks(r)));
}

void closeModuleList(ServerState& s, ClientSession& cs, bool complete, const char* reason,
                     std::uint64_t nowMs, ServerOutput& out) {
    ChunkedReport& r = cs.moduleList;
    if (!r.active) return;
    EventBuilder b = beginEvent(s, "module_list", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    addReportFields(b, r, complete, reason);
    std::vector<ModuleInfo> modules;
    std::vector<std::string> items;
    for (std::size_t i = 0; i < r.chunks.size(); ++i) {
        if (!r.have[i]) continue;
        const std::vector<std::uint8_t>& c = r.chunks[i];
        ModuleListChunkHeader head;
        std::memcpy(&head, c.data(), sizeof head);
        for (std::uint16_t k = 0; k < head.entryCount; ++k) {
            ModuleListEntry entry;
            std::memcpy(&entry, c.data() + sizeof head + k * sizeof entry, sizeof entry);
            ModuleInfo m;
            m.name = fieldText(entry.name, sizeof entry.name);
            m.crc32 = entry.crc32;
            m.size = entry.imageSize;
            JsonObject o;
            jsonAddString(o, "name", m.name);
            jsonAddHex(o, "crc32", m.crc32);
            jsonAddUint(o, "image_size", m.size);
            items.push_back(jsonFinish(o));
            modules.push_back(std::move(m));
        }
    }
    jsonAddRaw(b.json, "modules", jsonArrayOf(items));
    b.summary += std::string("module list ") + (complete ? "COMPLETE" : "INCOMPLETE") + ": " +
                 std::to_string(modules.size()) + "/" + std::to_string(r.totalEntries) +
                 " modules, " + std::to_string(r.received) + "/" + std::to_string(r.chunkCount) +
                 " chunks" + (complete ? "" : std::string(" (") + reason + ")");
    ServerEvent fin = finishEvent("module_list", b);
    fin.complete = complete;
    fin.modules = std::move(modules);
    out.events.push_back(std::move(fin));
    ++(complete ? s.counters.reportsComplete : s.counters.reportsIncomplete);
    r = ChunkedReport();
}

void closeModuleLog(ServerState& s, ClientSession& cs, bool complete, const char* reason,
                    std::uint64_t nowMs, ServerOutput& out) {
    ChunkedReport& r = cs.moduleLog;
    if (!r.active) return;
    EventBuilder b = beginEvent(s, "module_log", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    addReportFields(b, r, complete, reason);
    jsonAddUint(b.json, "tick_count", r.tickCount);
    std::vector<ModuleInfo> modules;
    std::vector<std::string> items;
    for (std::size_t i = 0; i < r.chunks.size(); ++i) {
        if (!r.have[i]) continue;
        const std::vector<std::uint8_t>& c = r.chunks[i];
        ModuleLogChunkHeader head;
        std::memcpy(&head, c.data(), sizeof head);
        for (std::uint16_t k = 0; k < head.entryCount; ++k) {
            ModuleLogEntry entry;
            std::memcpy(&entry, c.data() + sizeof head + k * sizeof entry, sizeof entry);
            ModuleInfo m;
            m.name = fieldText(entry.name, sizeof entry.name);
            m.path = fieldText(entry.path, sizeof entry.path);
            m.crc32 = entry.crc32;
            m.size = entry.imageSize;
            m.suspicious = entry.suspicious != 0;
            JsonObject o;
            jsonAddString(o, "name", m.name);
            jsonAddString(o, "path", m.path);
            jsonAddHex(o, "crc32", m.crc32);
            jsonAddUint(o, "image_size", m.size);
            jsonAddUint(o, "suspicious", entry.suspicious);
            items.push_back(jsonFinish(o));
            modules.push_back(std::move(m));
        }
    }
    jsonAddRaw(b.json, "modules", jsonArrayOf(items));
    std::size_t flagged = 0;
    for (const ModuleInfo& m : modules) flagged += m.suspicious ? 1 : 0;
    b.summary += std::string("module log ") + (complete ? "COMPLETE" : "INCOMPLETE") + ": " +
                 std::to_string(modules.size()) + "/" + std::to_string(r.totalEntries) +
                 " modules, " + std::to_string(flagged) + " suspicious, " +
                 std::to_string(r.received) + "/" + std::to_string(r.chunkCount) + " chunks" +
                 (complete ? "" : std::string(" (") + reason + ")");
    ServerEvent fin = finishEvent("module_log", b);
    fin.complete = complete;
    fin.modules = std::move(modules);
    out.events.push_back(std::move(fin));
    ++(complete ? s.counters.reportsComplete : s.counters.reportsIncomplete);
    r = ChunkedReport();
}

void closeConfig(ServerState& s, ClientSession& cs, bool complete, const char* reason,
                 std::uint64_t nowMs, ServerOutput& out) {
    ConfigReport& r = cs.config;
    if (!r.active) return;
    EventBuilder b = beginEvent(s, "config", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddBool(b.json, "complete", complete);
    if (!complete) jsonAddString(b.json, "reason", reason);
    jsonAddString(b.json, "player", r.player);
    jsonAddUint(b.json, "size", r.fileSize);
    jsonAddUint(b.json, "received_bytes", r.data.size());
    jsonAddUint(b.json, "chunks", r.chunks);
    if (complete) {
        std::uint8_t digest[MD5_DIGEST_SIZE];
        md5Compute(r.data.data(), r.data.size(), digest);
        jsonAddString(b.json, "md5", toHex(digest, sizeof digest));
        jsonAddString(b.json, "data_base64", base64(r.data.data(), r.data.size()));
    }
    b.summary += std::string("config ") + (complete ? "COMPLETE" : "INCOMPLETE") + ": " +
                 std::to_string(r.data.size()) + "/" + std::to_string(r.fileSize) + " bytes in " +
                 std::to_string(r.chunks) + " chunks" +
                 (complete ? "" : std::string(" (") + reason + ")");
    ServerEvent fin = finishEvent("config", b);
    fin.complete = complete;
    fin.data = std::move(r.data);
    out.events.push_back(std::move(fin));
    ++(complete ? s.counters.reportsComplete : s.counters.reportsIncomplete);
    r = ConfigReport();
}

void closeAllReports(ServerState& s, ClientSession& cs, const char* reason, std::uint64_t nowMs,
                     ServerOutput& out) {
    closeModuleList(s, cs, false, reason, nowMs, out);
    closeModuleLog(s, cs, false, reason, nowMs, out);
    closeConfig(s, cs, false, reason, nowMs, out);
}

// ---- sessions ----

ClientSession& sessionFor(ServerState& s, const Endpoint& from, std::uint32_t sessionId,
                          std::uint64_t nowMs, ServerOutput& out) {
    SessionKey key{from.ip, from.port, sessionId};
    auto it = s.sessions.find(key);
    if (it == s.sessions.end()) {
        if (s.sessions.size() >= s.options.maxSessions && !s.sessions.empty()) {
            auto oldest = s.sessions.begin();
            for (auto j = s.sessions.begin(); j != s.sessions.end(); ++j)
                if (j->second.lastSeenMs < oldest->second.lastSeenMs) oldest = j;
            closeAllReports(s, oldest->second, "session evicted", nowMs, out);
            s.sessions.erase(oldest);
        }
        ClientSession cs;
        cs.from = from;
        cs.sessionId = sessionId;
        cs.firstSeenMs = nowMs;
        it = s.sessions.emplace(key, cs).first;
    }
    it->second.lastSeenMs = nowMs;
    return it->second;
}

// ---- packet handlers; each gets a payload of a length already checked ----

void onHello(ServerState& s, ClientSession& cs, const HelloPayload& h, std::uint64_t nowMs,
             ServerOutput& out) {
    bool retry = cs.challenged;
    cs.player = fieldText(h.playerName, sizeof h.playerName);
    EventBuilder b = beginEvent(s, "hello", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddString(b.json, "player", cs.player);
    jsonAddUint(b.json, "port", h.serverPort);
    char ver[16];
    std::snprintf(ver, sizeof ver, "0x%x", static_cast<unsigned>(h.clientVersion));
    jsonAddString(b.json, "version", ver);
    jsonAddString(b.json, "hwid", fieldText(h.hwid, sizeof h.hwid));
    jsonAddString(b.json, "guid", fieldText(h.guid, sizeof h.guid));
    jsonAddBool(b.json, "retry", retry);
    b.summary += std::string("hello") + (retry ? " (again)" : "") + " player=" +
                 printable(cs.player) + " version=" + ver +
                 " guid=" + printable(fieldText(h.guid, sizeof h.guid));
    out.events.push_back(finishEvent("hello", b));

    // A repeated hello of the same session gets the same challenge, so a
    // late first challenge and a second one never disagree.
    if (!cs.challenged) {
        void (*fill)(std::uint8_t*, std::size_t) =
            s.options.fillRandom != nullptr ? s.options.fillRandom : systemRandom;
        fill(cs.challenge, sizeof cs.challenge);
        cs.challenged = true;
    }
    if (cs.state == HS_NONE) cs.state = HS_CHALLENGED;
    if (!s.options.silent)
        sendReply(s, cs, PKT_CHALLENGE, cs.challenge, sizeof cs.challenge, "hello", nowMs, out);
}

void armTimers(ClientSession& cs, std::uint64_t nowMs) {
    cs.timersArmed = true;
    cs.timerBaseMs = nowMs;
}

void onChallengeResponse(ServerState& s, ClientSession& cs, const ChallengeResponsePayload& p,
                         const std::uint8_t* rawPayload, std::uint64_t nowMs, ServerOutput& out) {
    bool answerOk = false;
    std::string problem;
    if (!cs.challenged) {
        problem = "no challenge issued to this session";
    } else {
        answerOk = challengeAnswerMatches(cs.challenge, p.answer);
        if (!answerOk) {
            // Tell a wrong secret from a client whose encryption setting
            // differs from ours: read the bytes the other way and try again.
            std::uint8_t other[sizeof(ChallengeResponsePayload)];
            std::memcpy(other, rawPayload, sizeof other);
            if (!s.options.encryption)
                rc4_crypt(other, static_cast<int>(sizeof other), AC_ENCRYPT_KEY,
                          AC_ENCRYPT_KEY_LENGTH);
            if (challengeAnswerMatches(cs.challenge, other))
                problem = s.options.encryption ? "answer mismatch: client sends without encryption"
                                               : "answer mismatch: client sends with encryption";
            else
                problem = "answer mismatch";
        }
    }
    EventBuilder b = beginEvent(s, "challenge_response", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddBool(b.json, "answer_ok", answerOk);
    if (!answerOk) jsonAddString(b.json, "reason", problem);
    jsonAddString(b.json, "answer", hexBytes(p.answer, 32));
    jsonAddHex(b.json, "self_crc", p.selfCrc);
    jsonAddHex(b.json, "game_crc", p.gameCrc);
    jsonAddUint(b.json, "integrity_flags", p.integrityFlags);
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%02x", p.integrityFlags);
    b.summary += std::string("challenge response ") + (answerOk ? "OK" : "BAD (" + problem + ")") +
                 " self_crc=" + hex32(p.selfCrc) + " game_crc=" + hex32(p.gameCrc) +
                 " flags=" + flags;
    out.events.push_back(finishEvent("challenge_response", b));

    if (s.options.silent) return;
    if (s.options.noVerdict) {
        cs.state = HS_NO_VERDICT;
        armTimers(cs, nowMs);
        return;
    }
    if (s.options.reject) {
        cs.state = HS_REJECTED;
        sendKick(s, cs, "rejected", nowMs, out);
    } else if (!answerOk) {
        cs.state = HS_REJECTED;
        sendKick(s, cs, "bad answer", nowMs, out);
    } else {
        cs.state = HS_VERIFIED;
        sendReply(s, cs, PKT_VERIFY_OK, nullptr, 0, "answer ok", nowMs, out);
        armTimers(cs, nowMs);
    }
}

void onHeartbeat(ServerState& s, ClientSession& cs, const HeartbeatPayload& p,
                 std::uint64_t nowMs, ServerOutput& out) {
    EventBuilder b = beginEvent(s, "heartbeat", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddString(b.json, "handshake", stateName(cs.state));
    jsonAddUint(b.json, "tick_count", p.tickCount);
    jsonAddUint(b.json, "process_count", p.processCount);
    jsonAddUint(b.json, "debugger", p.debuggerFlag);
    jsonAddUint(b.json, "module_alert", p.moduleAlertFlag);
    jsonAddUint(b.json, "integrity_alert", p.integrityAlertFlag);
    jsonAddUint(b.json, "reserved", p.reserved);
    jsonAddHex(b.json, "self_crc", p.selfCrc);
    jsonAddUint(b.json, "uptime_s", p.uptimeSeconds);
    b.summary += "heartbeat uptime=" + std::to_string(p.uptimeSeconds) +
                 "s processes=" + std::to_string(p.processCount) +
                 " debugger=" + std::to_string(p.debuggerFlag) +
                 " module_alert=" + std::to_string(p.moduleAlertFlag) +
                 " integrity_alert=" + std::to_string(p.integrityAlertFlag) +
                 " self_crc=" + hex32(p.selfCrc);
    out.events.push_back(finishEvent("heartbeat", b));
}

void onMemoryReport(ServerState& s, ClientSession& cs, const MemoryReportPayload& p,
                    std::uint64_t nowMs, ServerOutput& out) {
    std::string text = fieldText(p.description, sizeof p.description);
    EventBuilder b = beginEvent(s, "memory_report", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddHex(b.json, "address", p.address);
    jsonAddUint(b.json, "size", p.size);
    jsonAddUint(b.json, "hit_flag", p.hitFlag);
    jsonAddString(b.json, "description", text);
    b.summary += "memory report at " + hex32(p.address) + " size " + std::to_string(p.size) +
                 ": " + printable(text);
    out.events.push_back(finishEvent("memory_report", b));
}

void onIdentity(ServerState& s, ClientSession& cs, const IdentityPayload& p, std::uint64_t nowMs,
                ServerOutput& out) {
    EventBuilder b = beginEvent(s, "identity", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    std::string hwid = fieldText(p.hwid, sizeof p.hwid);
    std::string guid = fieldText(p.guid, sizeof p.guid);
    jsonAddString(b.json, "hwid", hwid);
    jsonAddString(b.json, "guid", guid);
    jsonAddUint(b.json, "timestamp", p.timestamp);
    b.summary += "identity guid=" + printable(guid) + " hwid=" + printable(hwid);
    out.events.push_back(finishEvent("identity", b));
}

// Checks a chunk head against the cutting rule, so counts that no client
// could send are refused before anything is stored.
std::string chunkHeadProblem(std::uint16_t entryCount, std::uint16_t chunkIndex,
                             std::uint16_t chunkCount, std::uint16_t totalEntries,
                             std::uint16_t perChunk) {
    std::uint32_t expectCount = totalEntries == 0 ? 1u : (totalEntries + perChunk - 1u) / perChunk;
    if (entryCount > perChunk)
        return "entryCount " + std::to_string(entryCount) + " exceeds " + std::to_string(perChunk);
    if (chunkCount != expectCount)
        return "chunkCount " + std::to_string(chunkCount) + " does not fit totalEntries " +
               std::to_string(totalEntries);
    if (chunkIndex >= chunkCount)
        return "chunkIndex " + std::to_string(chunkIndex) + " not below chunkCount " +
               std::to_string(chunkCount);
    std::uint32_t rest = totalEntries - static_cast<std::uint32_t>(chunkIndex) * perChunk;
    std::uint32_t expectEntries = rest < perChunk ? rest : perChunk;
    if (entryCount != expectEntries)
        return "entryCount " + std::to_string(entryCount) + " in chunk " +
               std::to_string(chunkIndex) + " should be " + std::to_string(expectEntries);
    return std::string();
}

void startReport(ChunkedReport& r, std::uint16_t chunkCount, std::uint16_t totalEntries,
                 std::uint32_t tick, std::uint64_t nowMs) {
    r = ChunkedReport();
    r.active = true;
    r.chunkCount = chunkCount;
    r.totalEntries = totalEntries;
    r.tickCount = tick;
    r.chunks.resize(chunkCount);
    r.have.assign(chunkCount, false);
    r.startMs = nowMs;
}

void chunkEvent(ServerState& s, ClientSession& cs, const char* name, std::uint16_t index,
                std::uint16_t count, std::uint16_t entries, std::uint16_t total, bool duplicate,
                std::uint64_t nowMs, ServerOutput& out) {
    EventBuilder b = beginEvent(s, name, nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddUint(b.json, "chunk_index", index);
    jsonAddUint(b.json, "chunk_count", count);
    jsonAddUint(b.json, "entries", entries);
    jsonAddUint(b.json, "total_entries", total);
    jsonAddBool(b.json, "duplicate", duplicate);
    b.summary += std::string(name) + " " + std::to_string(index + 1) + "/" +
                 std::to_string(count) + (duplicate ? " (duplicate, ignored)" : "");
    out.events.push_back(finishEvent(name, b));
}

void onModuleListChunk(ServerState& s, ClientSession& cs, const std::uint8_t* payload,
                       std::size_t n, const ModuleListChunkHeader& h, std::uint64_t nowMs,
                       ServerOutput& out) {
    ChunkedReport& r = cs.moduleList;
    // No tick names a module list, so a report is told from the next by its
    // counts and by a first chunk arriving again: the client always starts
    // over at chunk 0.
    if (r.active) {
        const char* why = nullptr;
        if (r.chunkCount != h.chunkCount || r.totalEntries != h.totalEntries)
            why = "superseded by a new report";
        else if (r.have[h.chunkIndex] &&
                 (h.chunkIndex == 0 || r.chunks[h.chunkIndex] !=
                                           std::vector<std::uint8_t>(payload, payload + n)))
            why = "superseded by a new report";
        if (why != nullptr) closeModuleList(s, cs, false, why, nowMs, out);
    }
    if (!r.active) startReport(r, h.chunkCount, h.totalEntries, 0, nowMs);
    bool duplicate = r.have[h.chunkIndex];
    chunkEvent(s, cs, "module_list_chunk", h.chunkIndex, h.chunkCount, h.entryCount,
               h.totalEntries, duplicate, nowMs, out);
    r.lastMs = nowMs;
    if (duplicate) {
        ++r.duplicates;
        return;
    }
    r.chunks[h.chunkIndex].assign(payload, payload + n);
    r.have[h.chunkIndex] = true;
    ++r.received;
    if (r.received == r.chunkCount) closeModuleList(s, cs, true, "", nowMs, out);
}

void onModuleLogChunk(ServerState& s, ClientSession& cs, const std::uint8_t* payload,
                      std::size_t n, const ModuleLogChunkHeader& h, std::uint64_t nowMs,
                      ServerOutput& out) {
    ChunkedReport& r = cs.moduleLog;
    // Every chunk of one module log carries the tick taken before its first.
    if (r.active && (r.tickCount != h.tickCount || r.chunkCount != h.chunkCount ||
                     r.totalEntries != h.totalEntries))
        closeModuleLog(s, cs, false, "superseded by a new report", nowMs, out);
    if (!r.active) startReport(r, h.chunkCount, h.totalEntries, h.tickCount, nowMs);
    bool duplicate = r.have[h.chunkIndex];
    chunkEvent(s, cs, "module_log_chunk", h.chunkIndex, h.chunkCount, h.entryCount,
               h.totalEntries, duplicate, nowMs, out);
    r.lastMs = nowMs;
    if (duplicate) {
        ++r.duplicates;
        return;
    }
    r.chunks[h.chunkIndex].assign(payload, payload + n);
    r.have[h.chunkIndex] = true;
    ++r.received;
    if (r.received == r.chunkCount) closeModuleLog(s, cs, true, "", nowMs, out);
}

void onConfigChunk(ServerState& s, ClientSession& cs, const ConfigChunkHeader& h,
                   const std::uint8_t* data, std::size_t dataLen, std::uint64_t nowMs,
                   ServerOutput& out) {
    ConfigReport& r = cs.config;
    std::string player = fieldText(h.playerName, sizeof h.playerName);
    if (r.active && (r.fileSize != h.fileSize || r.player != player))
        closeConfig(s, cs, false, "superseded by a new upload", nowMs, out);
    if (r.active && r.data.size() + dataLen > r.fileSize)
        closeConfig(s, cs, false, "more bytes than fileSize: a chunk was lost", nowMs, out);
    if (!r.active) {
        r = ConfigReport();
        r.active = true;
        r.player = player;
        r.fileSize = h.fileSize;
        r.startMs = nowMs;
        r.data.reserve(h.fileSize);
    }
    r.data.insert(r.data.end(), data, data + dataLen);
    ++r.chunks;
    r.lastMs = nowMs;

    EventBuilder b = beginEvent(s, "config_chunk", nowMs);
    addPeer(b, cs.from, cs.sessionId);
    jsonAddString(b.json, "player", player);
    jsonAddUint(b.json, "file_size", h.fileSize);
    jsonAddUint(b.json, "data_bytes", dataLen);
    jsonAddUint(b.json, "offset", r.data.size() - dataLen);
    b.summary += "config chunk " + std::to_string(r.chunks) + ": " + std::to_string(dataLen) +
                 " bytes, " + std::to_string(r.data.size()) + "/" + std::to_string(h.fileSize);
    out.events.push_back(finishEvent("config_chunk", b));

    // Only the last slice of a file is short; a short one that does not end
    // the file means slices before it were lost.
    if (r.data.size() == r.fileSize)
        closeConfig(s, cs, true, "", nowMs, out);
    else if (dataLen < CONFIG_SLICE)
        closeConfig(s, cs, false, "last slice arrived before fileSize bytes: a chunk was lost",
                    nowMs, out);
}

// Datagrams a client would never send end here with their reason.
std::string expectSize(std::size_t n, std::size_t want, const char* what) {
    if (n == want) return std::string();
    return std::string(what) + " payload is " + std::to_string(n) + " bytes, expected " +
           std::to_string(want);
}

// Head first, then the size its entry count implies.
template <typename Head, typename Entry>
std::string entryChunkProblem(const std::uint8_t* p, std::size_t len, std::uint16_t perChunk,
                              const char* what) {
    if (len < sizeof(Head)) return std::string(what) + " shorter than its head";
    Head head;
    std::memcpy(&head, p, sizeof head);
    std::string problem = chunkHeadProblem(head.entryCount, head.chunkIndex, head.chunkCount,
                                           head.totalEntries, perChunk);
    if (problem.empty()) problem = expectSize(len, sizeof head + head.entryCount * sizeof(Entry), what);
    return problem;
}

}  // namespace

std::string endpointText(const Endpoint& e) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", (e.ip >> 24) & 255u, (e.ip >> 16) & 255u,
                  (e.ip >> 8) & 255u, e.ip & 255u, static_cast<unsigned>(e.port));
    return buf;
}

const char* packetTypeName(std::uint8_t type) {
    switch (type) {
        case PKT_HELLO: return "PKT_HELLO";
        case PKT_CHALLENGE: return "PKT_CHALLENGE";
        case PKT_CHALLENGE_RESPONSE: return "PKT_CHALLENGE_RESPONSE";
        case PKT_VERIFY_OK: return "PKT_VERIFY_OK";
        case PKT_HEARTBEAT: return "PKT_HEARTBEAT";
        case PKT_MODULE_LIST: return "PKT_MODULE_LIST";
        case PKT_KICK: return "PKT_KICK";
        case PKT_MEMORY_REPORT: return "PKT_MEMORY_REPORT";
        case PKT_IDENTITY: return "PKT_IDENTITY";
        case PKT_MODULE_LOG: return "PKT_MODULE_LOG";
        case PKT_SCREENSHOT_REQUEST: return "PKT_SCREENSHOT_REQUEST";
        case PKT_UPDATE_AVAILABLE: return "PKT_UPDATE_AVAILABLE";
        case PKT_CONFIG_CHUNK: return "PKT_CONFIG_CHUNK";
        default: return "unknown";
    }
}

void serverInit(ServerState& s, const ServerOptions& options, std::uint64_t nowMs) {
    s = ServerState();
    s.options = options;
    if (s.options.maxSessions == 0) s.options.maxSessions = 1;
    s.startMs = nowMs;
}

void serverHandleDatagram(ServerState& s, const std::uint8_t* bytes, std::size_t n,
                          const Endpoint& from, std::uint64_t nowMs, ServerOutput& out) {
    ++s.counters.datagrams;
    if (n < HEADER_SIZE) {
        emitMalformed(s, from, n, "datagram shorter than the 12-byte header", nowMs, out);
        return;
    }
    ACPacketHeader h;
    std::memcpy(&h, bytes, HEADER_SIZE);
    if (h.magic != AC_PACKET_MAGIC) {
        emitMalformed(s, from, n, "bad magic " + hex32(h.magic), nowMs, out);
        return;
    }
    if (h.version != AC_PROTOCOL_VERSION) {
        emitMalformed(s, from, n, "unsupported version " + std::to_string(h.version), nowMs, out);
        return;
    }
    std::size_t len = n - HEADER_SIZE;
    if (h.length != len) {
        emitMalformed(s, from, n,
                      "length field " + std::to_string(h.length) + " but " + std::to_string(len) +
                          " payload bytes",
                      nowMs, out);
        return;
    }
    switch (h.type) {
        case PKT_HELLO: case PKT_CHALLENGE_RESPONSE: case PKT_HEARTBEAT: case PKT_MODULE_LIST:
        case PKT_MEMORY_REPORT: case PKT_IDENTITY: case PKT_MODULE_LOG: case PKT_CONFIG_CHUNK:
            break;
        case PKT_CHALLENGE: case PKT_VERIFY_OK: case PKT_KICK: case PKT_SCREENSHOT_REQUEST:
        case PKT_UPDATE_AVAILABLE:
            emitMalformed(s, from, n,
                          std::string("server-to-client packet ") + packetTypeName(h.type), nowMs,
                          out);
            return;
        default:
            emitMalformed(s, from, n, "unknown packet type " + std::to_string(h.type), nowMs, out);
            return;
    }

    std::vector<std::uint8_t> payload(bytes + HEADER_SIZE, bytes + n);
    std::vector<std::uint8_t> raw = payload;
    if (s.options.encryption && isEncryptedType(h.type) && !payload.empty())
        rc4_crypt(payload.data(), static_cast<int>(payload.size()), AC_ENCRYPT_KEY,
                  AC_ENCRYPT_KEY_LENGTH);
    const std::uint8_t* p = payload.data();

    std::string problem;
    switch (h.type) {
        case PKT_HELLO: problem = expectSize(len, sizeof(HelloPayload), "hello"); break;
        case PKT_CHALLENGE_RESPONSE:
            problem = expectSize(len, sizeof(ChallengeResponsePayload), "challenge response");
            break;
        case PKT_HEARTBEAT: problem = expectSize(len, sizeof(HeartbeatPayload), "heartbeat"); break;
        case PKT_MEMORY_REPORT:
            problem = expectSize(len, sizeof(MemoryReportPayload), "memory report");
            break;
        case PKT_IDENTITY: problem = expectSize(len, sizeof(IdentityPayload), "identity"); break;
        case PKT_MODULE_LIST:
            problem = entryChunkProblem<ModuleListChunkHeader, ModuleListEntry>(
                p, len, LIST_ENTRIES_PER_CHUNK, "module list chunk");
            break;
        case PKT_MODULE_LOG:
            problem = entryChunkProblem<ModuleLogChunkHeader, ModuleLogEntry>(
                p, len, LOG_ENTRIES_PER_CHUNK, "module log chunk");
            break;
        case PKT_CONFIG_CHUNK: {
            if (len <= sizeof(ConfigChunkHeader) || len > sizeof(ConfigChunkHeader) + CONFIG_SLICE) {
                problem = "config chunk payload is " + std::to_string(len) +
                          " bytes, expected 41 to 940";
                break;
            }
            ConfigChunkHeader ch;
            std::memcpy(&ch, p, sizeof ch);
            if (ch.fileSize == 0 || ch.fileSize > CONFIG_MAX_FILE)
                problem = "config fileSize " + std::to_string(ch.fileSize) + " out of 1 to 59999";
            else if (len - sizeof ch > ch.fileSize)
                problem = "config chunk holds more than fileSize bytes";
            break;
        }
        default: break;
    }
    if (!problem.empty()) {
        if (s.options.encryption && isEncryptedType(h.type)) problem += " (after decryption)";
        emitMalformed(s, from, n, problem, nowMs, out);
        return;
    }

    ClientSession& cs = sessionFor(s, from, h.sessionId, nowMs, out);
    switch (h.type) {
        case PKT_HELLO: {
            HelloPayload hp;
            std::memcpy(&hp, p, sizeof hp);
            onHello(s, cs, hp, nowMs, out);
            break;
        }
        case PKT_CHALLENGE_RESPONSE: {
            ChallengeResponsePayload cr;
            std::memcpy(&cr, p, sizeof cr);
            onChallengeResponse(s, cs, cr, raw.data(), nowMs, out);
            break;
        }
        case PKT_HEARTBEAT: {
            HeartbeatPayload hb;
            std::memcpy(&hb, p, sizeof hb);
            onHeartbeat(s, cs, hb, nowMs, out);
            break;
        }
        case PKT_MEMORY_REPORT: {
            MemoryReportPayload mr;
            std::memcpy(&mr, p, sizeof mr);
            onMemoryReport(s, cs, mr, nowMs, out);
            break;
        }
        case PKT_IDENTITY: {
            IdentityPayload ip;
            std::memcpy(&ip, p, sizeof ip);
            onIdentity(s, cs, ip, nowMs, out);
            break;
        }
        case PKT_MODULE_LIST: {
            ModuleListChunkHeader mh;
            std::memcpy(&mh, p, sizeof mh);
            onModuleListChunk(s, cs, p, len, mh, nowMs, out);
            break;
        }
        case PKT_MODULE_LOG: {
            ModuleLogChunkHeader lh;
            std::memcpy(&lh, p, sizeof lh);
            onModuleLogChunk(s, cs, p, len, lh, nowMs, out);
            break;
        }
        case PKT_CONFIG_CHUNK: {
            ConfigChunkHeader ch;
            std::memcpy(&ch, p, sizeof ch);
            onConfigChunk(s, cs, ch, p + sizeof ch, len - sizeof ch, nowMs, out);
            break;
        }
        default: break;
    }
}

namespace {

std::uint64_t timerDue(const ClientSession& cs, int afterSec) {
    return cs.timerBaseMs + static_cast<std::uint64_t>(afterSec) * 1000u;
}

}  // namespace

void serverTick(ServerState& s, std::uint64_t nowMs, ServerOutput& out) {
    const ServerOptions& o = s.options;
    for (auto& entry : s.sessions) {
        ClientSession& cs = entry.second;
        if (cs.moduleList.active && nowMs >= cs.moduleList.lastMs + o.reportTimeoutMs)
            closeModuleList(s, cs, false, "timeout", nowMs, out);
        if (cs.moduleLog.active && nowMs >= cs.moduleLog.lastMs + o.reportTimeoutMs)
            closeModuleLog(s, cs, false, "timeout", nowMs, out);
        if (cs.config.active && nowMs >= cs.config.lastMs + o.reportTimeoutMs)
            closeConfig(s, cs, false, "timeout", nowMs, out);
        if (!cs.timersArmed || cs.state == HS_KICKED || o.silent) continue;
        if (o.screenshotAfterSec >= 0 && !cs.screenshotSent &&
            nowMs >= timerDue(cs, o.screenshotAfterSec)) {
            cs.screenshotSent = true;
            sendReply(s, cs, PKT_SCREENSHOT_REQUEST, nullptr, 0, "screenshot timer", nowMs, out);
        }
        if (o.updateAfterSec >= 0 && !cs.updateSent && nowMs >= timerDue(cs, o.updateAfterSec)) {
            cs.updateSent = true;
            sendReply(s, cs, PKT_UPDATE_AVAILABLE, nullptr, 0, "update timer", nowMs, out);
        }
        if (o.kickAfterSec >= 0 && !cs.kickSent && nowMs >= timerDue(cs, o.kickAfterSec)) {
            cs.kickSent = true;
            cs.state = HS_KICKED;
            sendKick(s, cs, "kick timer", nowMs, out);
        }
    }
}

std::uint64_t serverNextDeadline(const ServerState& s) {
    const ServerOptions& o = s.options;
    std::uint64_t next = UINT64_MAX;
    auto consider = [&next](std::uint64_t t) {
        if (t < next) next = t;
    };
    for (const auto& entry : s.sessions) {
        const ClientSession& cs = entry.second;
        if (cs.moduleList.active) consider(cs.moduleList.lastMs + o.reportTimeoutMs);
        if (cs.moduleLog.active) consider(cs.moduleLog.lastMs + o.reportTimeoutMs);
        if (cs.config.active) consider(cs.config.lastMs + o.reportTimeoutMs);
        if (!cs.timersArmed || cs.state == HS_KICKED || o.silent) continue;
        if (o.screenshotAfterSec >= 0 && !cs.screenshotSent)
            consider(timerDue(cs, o.screenshotAfterSec));
        if (o.updateAfterSec >= 0 && !cs.updateSent) consider(timerDue(cs, o.updateAfterSec));
        if (o.kickAfterSec >= 0 && !cs.kickSent) consider(timerDue(cs, o.kickAfterSec));
    }
    return next;
}

void serverFinish(ServerState& s, std::uint64_t nowMs, ServerOutput& out) {
    for (auto& entry : s.sessions) closeAllReports(s, entry.second, "server stopped", nowMs, out);
}

}  // namespace marvik
