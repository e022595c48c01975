// The library's events as the reference server writes them, and the
// server's policy: which verdict an answer gets and when the command timers
// fire.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inventory/hash.h"
#include "json_lines.h"
#include "server_core.h"

namespace marvik {

namespace {

// An event being written: its name, its JSON fields and its summary so far.
struct EventBuilder {
    const char* name;
    JsonObject json;
    std::string summary;
};

EventBuilder beginEvent(const mvs_event& e, const char* name) {
    EventBuilder b{name, JsonObject(), std::string()};
    jsonAddString(b.json, "event", name);
    jsonAddUint(b.json, "t_ms", e.time_ms);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8.3f ", static_cast<double>(e.time_ms) / 1000.0);
    b.summary = buf;
    return b;
}

// The sender and the session id, in both forms.
EventBuilder beginPeerEvent(const mvs_event& e, const char* name) {
    EventBuilder b = beginEvent(e, name);
    jsonAddString(b.json, "from", endpointText(e.peer.addr));
    jsonAddHex(b.json, "session", e.peer.session_id);
    b.summary += endpointText(e.peer.addr) + " " + hex32(e.peer.session_id) + " ";
    return b;
}

ServerEvent& emit(ServerOutput& out, const EventBuilder& b) {
    out.events.push_back(ServerEvent{b.name, jsonFinish(b.json), b.summary, false, {}, {}});
    return out.events.back();
}

// A wire text for the summary: printable ASCII as it is, any other byte as
// \xNN, so a hostile name cannot drive the terminal.
std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char ch : bytes) {
        if (ch >= 0x20 && ch < 0x7f) {
            out += static_cast<char>(ch);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", ch);
            out += buf;
        }
    }
    return out;
}

const char* handshakeText(HandshakeState st) {
    static const char* const NAMES[] = {"none", "challenged", "verified", "rejected", "no_verdict", "kicked"};
    return NAMES[st];
}

SessionPolicy& policyOf(ServerState& s, const mvs_peer& p) {
    return s.sessions[SessionKey(p.addr.ip, p.addr.port, p.session_id)];
}

void ask(ServerState& s, const char* why) { s.pendingWhy.push_back(why); }

void writeSent(ServerState& s, const mvs_event& e, ServerOutput& out) {
    const char* why = "hello";  // the one datagram the library sends unasked
    if (e.send.type != MVS_PKT_CHALLENGE && !s.pendingWhy.empty()) {
        why = s.pendingWhy.front();
        s.pendingWhy.pop_front();
    }
    if (s.options.silent) return;
    ++s.counters.repliesSent;
    const char* packet = mvs_packet_name(e.send.type);
    EventBuilder b = beginEvent(e, "sent");
    jsonAddString(b.json, "to", endpointText(e.peer.addr));
    jsonAddHex(b.json, "session", e.peer.session_id);
    jsonAddString(b.json, "packet", packet);
    jsonAddUint(b.json, "type", e.send.type);
    jsonAddUint(b.json, "bytes", e.send.size);
    jsonAddString(b.json, "why", why);
    if (e.send.type == MVS_PKT_CHALLENGE) jsonAddString(b.json, "challenge", toHex(e.send.bytes + 12, 32));
    b.summary += endpointText(e.peer.addr) + " " + hex32(e.peer.session_id) + " <- " + packet + " (" + why + ")";
    emit(out, b);
    out.replies.push_back(OutDatagram{e.peer.addr, std::vector<std::uint8_t>(e.send.bytes, e.send.bytes + e.send.size)});
}

void writeHello(ServerState& s, const mvs_event& e, ServerOutput& out) {
    char version[16];
    std::snprintf(version, sizeof version, "0x%x", static_cast<unsigned>(e.hello.client_version));
    EventBuilder b = beginPeerEvent(e, "hello");
    jsonAddString(b.json, "player", e.hello.player);
    jsonAddUint(b.json, "port", e.hello.server_port);
    jsonAddString(b.json, "version", version);
    jsonAddString(b.json, "hwid", e.hello.hwid);
    jsonAddString(b.json, "guid", e.hello.guid);
    jsonAddBool(b.json, "retry", e.hello.retry != 0);
    b.summary += std::string("hello") + (e.hello.retry ? " (again)" : "") + " player=" + printable(e.hello.player) +
                 " version=" + version + " guid=" + printable(e.hello.guid);
    emit(out, b);
    SessionPolicy& p = policyOf(s, e.peer);
    if (p.state == HS_NONE && e.handshake != MVS_HS_NONE) p.state = HS_CHALLENGED;
}

// The verdict this server gives, and the timers it arms.
void judge(ServerState& s, const mvs_event& e) {
    const ServerOptions& o = s.options;
    SessionPolicy& p = policyOf(s, e.peer);
    if (o.silent) return;
    if (o.noVerdict) {
        p.state = HS_NO_VERDICT;
    } else if (o.reject || !e.answer.verified) {
        p.state = HS_REJECTED;
        const char* why = o.reject ? "rejected" : "bad answer";
        ask(s, why);
        mvs_verdict(s.lib.get(), &e.peer, 0, why);
        return;
    } else {
        p.state = HS_VERIFIED;
        ask(s, "answer ok");
        mvs_verdict(s.lib.get(), &e.peer, 1, nullptr);
    }
    // Command timers count from the verdict, or from the response when no
    // verdict is sent.
    p.timersArmed = true;
    p.timerBaseMs = e.time_ms;
}

void writeAnswer(ServerState& s, const mvs_event& e, ServerOutput& out) {
    const auto& a = e.answer;
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%02x", a.integrity_flags);
    EventBuilder b = beginPeerEvent(e, "challenge_response");
    jsonAddBool(b.json, "answer_ok", a.verified != 0);
    if (!a.verified) jsonAddString(b.json, "reason", a.reason);
    jsonAddString(b.json, "answer", toHex(a.answer, 32));
    jsonAddHex(b.json, "self_crc", a.self_crc);
    jsonAddHex(b.json, "game_crc", a.game_crc);
    jsonAddUint(b.json, "integrity_flags", a.integrity_flags);
    b.summary += std::string("challenge response ") + (a.verified ? "OK" : "BAD (" + std::string(a.reason) + ")") +
                 " self_crc=" + hex32(a.self_crc) + " game_crc=" + hex32(a.game_crc) + " flags=" + flags;
    emit(out, b);
    judge(s, e);
}

void writeHeartbeat(ServerState& s, const mvs_event& e, ServerOutput& out) {
    const auto& h = e.heartbeat;
    EventBuilder b = beginPeerEvent(e, "heartbeat");
    jsonAddString(b.json, "handshake", handshakeText(policyOf(s, e.peer).state));
    jsonAddUint(b.json, "tick_count", h.tick_count);
    jsonAddUint(b.json, "process_count", h.process_count);
    jsonAddUint(b.json, "debugger", h.debugger_flag);
    jsonAddUint(b.json, "module_alert", h.module_alert_flag);
    jsonAddUint(b.json, "integrity_alert", h.integrity_alert_flag);
    jsonAddUint(b.json, "reserved", h.reserved);
    jsonAddHex(b.json, "self_crc", h.self_crc);
    jsonAddUint(b.json, "uptime_s", h.uptime_seconds);
    b.summary += "heartbeat uptime=" + std::to_string(h.uptime_seconds) + "s processes=" +
                 std::to_string(h.process_count) + " debugger=" + std::to_string(h.debugger_flag) +
                 " module_alert=" + std::to_string(h.module_alert_flag) +
                 " integrity_alert=" + std::to_string(h.integrity_alert_flag) + " self_crc=" + hex32(h.self_crc);
    emit(out, b);
}

void writeMemoryReport(const mvs_event& e, ServerOutput& out) {
    const auto& m = e.memory;
    EventBuilder b = beginPeerEvent(e, "memory_report");
    jsonAddHex(b.json, "address", m.address);
    jsonAddUint(b.json, "size", m.size);
    jsonAddUint(b.json, "hit_flag", m.hit_flag);
    jsonAddString(b.json, "description", m.description);
    b.summary += "memory report at " + hex32(m.address) + " size " + std::to_string(m.size) + ": " +
                 printable(m.description);
    emit(out, b);
}

void writeIdentity(const mvs_event& e, ServerOutput& out) {
    EventBuilder b = beginPeerEvent(e, "identity");
    jsonAddString(b.json, "hwid", e.identity.hwid);
    jsonAddString(b.json, "guid", e.identity.guid);
    jsonAddUint(b.json, "timestamp", e.identity.timestamp);
    b.summary += "identity guid=" + printable(e.identity.guid) + " hwid=" + printable(e.identity.hwid);
    emit(out, b);
}

void writeModuleChunk(const mvs_event& e, const char* name, ServerOutput& out) {
    const auto& c = e.module_chunk;
    EventBuilder b = beginPeerEvent(e, name);
    jsonAddUint(b.json, "chunk_index", c.chunk_index);
    jsonAddUint(b.json, "chunk_count", c.chunk_count);
    jsonAddUint(b.json, "entries", c.entries);
    jsonAddUint(b.json, "total_entries", c.total_entries);
    jsonAddBool(b.json, "duplicate", c.duplicate != 0);
    b.summary += std::string(name) + " " + std::to_string(c.chunk_index + 1) + "/" + std::to_string(c.chunk_count) +
                 (c.duplicate ? " (duplicate, ignored)" : "");
    emit(out, b);
}

void appendItem(std::string& list, const std::string& item) {
    if (!list.empty()) list += ',';
    list += item;
}

// The fields every finished report starts with.
EventBuilder beginReport(const mvs_event& e, const char* name, const char* title, bool complete, const char* reason) {
    EventBuilder b = beginPeerEvent(e, name);
    jsonAddBool(b.json, "complete", complete);
    if (!complete) jsonAddString(b.json, "reason", reason);
    b.summary += std::string(title) + (complete ? " COMPLETE: " : " INCOMPLETE: ");
    return b;
}

ServerEvent& emitReport(ServerState& s, ServerOutput& out, EventBuilder& b, bool complete, const char* reason) {
    if (!complete) b.summary += std::string(" (") + reason + ")";
    ++(complete ? s.counters.reportsComplete : s.counters.reportsIncomplete);
    ServerEvent& ev = emit(out, b);
    ev.complete = complete;
    return ev;
}

void writeModuleReport(ServerState& s, const mvs_event& e, ServerOutput& out) {
    const auto& r = e.modules;
    const bool isLog = e.type == MVS_EV_MODULE_LOG;
    EventBuilder b = beginReport(e, isLog ? "module_log" : "module_list", isLog ? "module log" : "module list",
                                 r.complete != 0, r.reason);
    jsonAddUint(b.json, "chunk_count", r.chunk_count);
    jsonAddUint(b.json, "chunks_received", r.chunks_received);
    jsonAddUint(b.json, "total_entries", r.total_entries);
    jsonAddUint(b.json, "duplicates", r.duplicates);
    std::string missing;
    for (std::size_t i = 0; i < r.missing_count; ++i) appendItem(missing, std::to_string(r.missing_chunks[i]));
    jsonAddRaw(b.json, "missing_chunks", "[" + missing + "]");
    if (isLog) jsonAddUint(b.json, "tick_count", r.tick_count);

    std::vector<ModuleInfo> modules;
    std::string items;
    std::size_t flagged = 0;
    for (std::size_t i = 0; i < r.module_count; ++i) {
        const mvs_module& m = r.modules[i];
        JsonObject o;
        jsonAddString(o, "name", m.name);
        if (isLog) jsonAddString(o, "path", m.path);
        jsonAddHex(o, "crc32", m.crc32);
        jsonAddUint(o, "image_size", m.image_size);
        if (isLog) jsonAddUint(o, "suspicious", m.suspicious);
        appendItem(items, jsonFinish(o));
        ModuleInfo info;
        info.name = m.name, info.path = m.path, info.crc32 = m.crc32, info.size = m.image_size;
        info.suspicious = m.suspicious != 0;
        flagged += info.suspicious ? 1 : 0;
        modules.push_back(std::move(info));
    }
    jsonAddRaw(b.json, "modules", "[" + items + "]");
    b.summary += std::to_string(modules.size()) + "/" + std::to_string(r.total_entries) + " modules, " +
                 (isLog ? std::to_string(flagged) + " suspicious, " : "") + std::to_string(r.chunks_received) + "/" +
                 std::to_string(r.chunk_count) + " chunks";
    emitReport(s, out, b, r.complete != 0, r.reason).modules = std::move(modules);
}

void writeConfigChunk(const mvs_event& e, ServerOutput& out) {
    const auto& c = e.config_chunk;
    EventBuilder b = beginPeerEvent(e, "config_chunk");
    jsonAddString(b.json, "player", c.player);
    jsonAddUint(b.json, "file_size", c.file_size);
    jsonAddUint(b.json, "data_bytes", c.data_bytes);
    jsonAddUint(b.json, "offset", c.offset);
    b.summary += "config chunk " + std::to_string(c.chunks) + ": " + std::to_string(c.data_bytes) + " bytes, " +
                 std::to_string(c.offset + c.data_bytes) + "/" + std::to_string(c.file_size);
    emit(out, b);
}

void writeConfig(ServerState& s, const mvs_event& e, ServerOutput& out) {
    const auto& c = e.config;
    EventBuilder b = beginReport(e, "config", "config", c.complete != 0, c.reason);
    jsonAddString(b.json, "player", c.player);
    jsonAddUint(b.json, "size", c.file_size);
    jsonAddUint(b.json, "received_bytes", c.size);
    jsonAddUint(b.json, "chunks", c.chunks);
    if (c.complete) {
        std::uint8_t digest[MD5_DIGEST_SIZE];
        md5Compute(c.data, c.size, digest);
        jsonAddString(b.json, "md5", toHex(digest, sizeof digest));
        jsonAddString(b.json, "data_base64", base64(c.data, c.size));
    }
    b.summary += std::to_string(c.size) + "/" + std::to_string(c.file_size) + " bytes in " +
                 std::to_string(c.chunks) + " chunks";
    emitReport(s, out, b, c.complete != 0, c.reason).data.assign(c.data, c.data + c.size);
}

void writeMalformed(ServerState& s, const mvs_event& e, ServerOutput& out) {
    ++s.counters.malformed;
    EventBuilder b = beginEvent(e, "malformed");
    jsonAddString(b.json, "from", endpointText(e.peer.addr));
    jsonAddUint(b.json, "bytes", e.malformed.size);
    jsonAddString(b.json, "reason", e.malformed.reason);
    b.summary += endpointText(e.peer.addr) + " MALFORMED (" + std::to_string(e.malformed.size) +
                 " bytes): " + e.malformed.reason;
    emit(out, b);
}

// Writes every queued event of the library, acting on those the policy
// answers.
void drain(ServerState& s, ServerOutput& out) {
    mvs_event e;
    while (mvs_next_event(s.lib.get(), &e)) {
        switch (e.type) {
        case MVS_EV_SEND: writeSent(s, e, out); break;
        case MVS_EV_MALFORMED: writeMalformed(s, e, out); break;
        case MVS_EV_HELLO: writeHello(s, e, out); break;
        case MVS_EV_ANSWER: writeAnswer(s, e, out); break;
        case MVS_EV_HEARTBEAT: writeHeartbeat(s, e, out); break;
        case MVS_EV_IDENTITY: writeIdentity(e, out); break;
        case MVS_EV_MEMORY_REPORT: writeMemoryReport(e, out); break;
        case MVS_EV_MODULE_LIST_CHUNK: writeModuleChunk(e, "module_list_chunk", out); break;
        case MVS_EV_MODULE_LOG_CHUNK: writeModuleChunk(e, "module_log_chunk", out); break;
        case MVS_EV_CONFIG_CHUNK: writeConfigChunk(e, out); break;
        case MVS_EV_MODULE_LIST:
        case MVS_EV_MODULE_LOG: writeModuleReport(s, e, out); break;
        case MVS_EV_CONFIG: writeConfig(s, e, out); break;
        case MVS_EV_SILENT:
        case MVS_EV_DROPPED:
            s.sessions.erase(SessionKey(e.peer.addr.ip, e.peer.addr.port, e.peer.session_id));
            break;
        }
    }
}

// A command a timer sends once, some seconds after the verdict.
struct TimedCommand {
    int ServerOptions::*afterSec;  // negative: never
    bool SessionPolicy::*sent;
    std::uint8_t type;
    const char* why;
};

// In the order they go out when due at once.
const TimedCommand TIMED_COMMANDS[] = {
    {&ServerOptions::screenshotAfterSec, &SessionPolicy::screenshotSent, MVS_PKT_SCREENSHOT_REQUEST,
     "screenshot timer"},
    {&ServerOptions::updateAfterSec, &SessionPolicy::updateSent, MVS_PKT_UPDATE_AVAILABLE, "update timer"},
    {&ServerOptions::kickAfterSec, &SessionPolicy::kickSent, MVS_PKT_KICK, "kick timer"},
};

// Relative to the server's start, as timerBaseMs is.
std::uint64_t commandDue(const ServerState& s, const SessionPolicy& p, const TimedCommand& cmd) {
    int after = s.options.*cmd.afterSec;
    if (!p.timersArmed || p.state == HS_KICKED || s.options.silent || after < 0 || p.*cmd.sent) return UINT64_MAX;
    return p.timerBaseMs + static_cast<std::uint64_t>(after) * 1000u;
}

int fillFromOptions(void* context, std::uint8_t* out, std::size_t n) {
    static_cast<const ServerOptions*>(context)->fillRandom(out, n);
    return 1;
}

}  // namespace

std::string endpointText(const Endpoint& e) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", (e.ip >> 24) & 255u, (e.ip >> 16) & 255u, (e.ip >> 8) & 255u,
                  e.ip & 255u, static_cast<unsigned>(e.port));
    return buf;
}

void serverInit(ServerState& s, const ServerOptions& options, std::uint64_t nowMs) {
    s.options = options;
    s.sessions.clear();
    s.pendingWhy.clear();
    s.counters = ServerCounters();
    s.startMs = nowMs;
    mvs_options o;
    mvs_options_init(&o);
    o.encryption = options.encryption;
    o.report_timeout_ms = options.reportTimeoutMs;
    o.silence_timeout_ms = 0;  // a session lasts as long as the server
    o.max_sessions = static_cast<std::uint32_t>(std::min<std::size_t>(options.maxSessions, UINT32_MAX));
    if (options.fillRandom != nullptr) o.fill_random = fillFromOptions, o.random_context = &s.options;
    s.lib.reset(mvs_create(&o, nowMs));
}

void serverHandleDatagram(ServerState& s, const std::uint8_t* bytes, std::size_t n, const Endpoint& from,
                          std::uint64_t nowMs, ServerOutput& out) {
    ++s.counters.datagrams;
    mvs_feed(s.lib.get(), bytes, n, &from, nowMs);
    drain(s, out);
}

void serverTick(ServerState& s, std::uint64_t nowMs, ServerOutput& out) {
    mvs_tick(s.lib.get(), nowMs);
    drain(s, out);
    for (auto& [key, p] : s.sessions) {
        for (const TimedCommand& cmd : TIMED_COMMANDS) {
            std::uint64_t due = commandDue(s, p, cmd);
            if (due == UINT64_MAX || nowMs < s.startMs + due) continue;
            p.*cmd.sent = true;
            if (cmd.type == MVS_PKT_KICK) p.state = HS_KICKED;
            ask(s, cmd.why);
            mvs_peer peer{{std::get<0>(key), std::get<1>(key)}, std::get<2>(key)};
            mvs_command(s.lib.get(), &peer, cmd.type, cmd.type == MVS_PKT_KICK ? cmd.why : nullptr);
        }
    }
    drain(s, out);
}

std::uint64_t serverNextDeadline(const ServerState& s) {
    std::uint64_t next = mvs_next_deadline(s.lib.get());
    for (const auto& entry : s.sessions)
        for (const TimedCommand& cmd : TIMED_COMMANDS) {
            std::uint64_t due = commandDue(s, entry.second, cmd);
            if (due != UINT64_MAX) next = std::min(next, s.startMs + due);
        }
    return next;
}

void serverFinish(ServerState& s, std::uint64_t nowMs, ServerOutput& out) {
    mvs_close_reports(s.lib.get(), nowMs);
    drain(s, out);
}

}  // namespace marvik
