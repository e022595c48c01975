// The C interface: the session table, the event queue and the time-outs.
// Every entry point catches what the C++ inside may throw (only memory
// exhaustion can), so nothing crosses into a C caller.
#include <algorithm>
#include <cstring>
#include <new>

#include "net/packets.h"
#include "server_state.h"

namespace marvik {

namespace {

constexpr std::uint32_t DEFAULT_REPORT_TIMEOUT_MS = 5000;
constexpr std::uint32_t DEFAULT_SILENCE_TIMEOUT_MS = 30000;
constexpr std::uint32_t DEFAULT_MAX_SESSIONS = 256;

template <typename Work>
int guarded(Work work) {
    try {
        work();
        return 1;
    } catch (...) {
        return 0;
    }
}

ClientSession* findSession(mvs_server& s, const mvs_peer* p) {
    if (p == nullptr) return nullptr;
    auto it = s.sessions.find(SessionKey{p->addr.ip, p->addr.port, p->session_id});
    return it == s.sessions.end() ? nullptr : &it->second;
}

std::uint64_t silenceDeadline(const mvs_server& s, const ClientSession& cs) {
    return s.options.silence_timeout_ms == 0 ? UINT64_MAX : cs.lastSeenMs + s.options.silence_timeout_ms;
}

// A command's text goes out whole up to this many bytes.
constexpr std::size_t MAX_COMMAND_TEXT = 1024;

std::size_t textLength(const char* text) {
    std::size_t n = 0;
    while (text != nullptr && n < MAX_COMMAND_TEXT && text[n] != '\0') ++n;
    return n;
}

}  // namespace

void copyField(char* out, const char* field, std::size_t size) {
    std::size_t n = 0;
    while (n < size && field[n] != '\0') ++n;
    std::memcpy(out, field, n);
    out[n] = '\0';
}

QueuedEvent& queueEvent(mvs_server& s, mvs_event_type type, const ClientSession* cs, std::uint64_t nowMs) {
    s.queue.emplace_back();
    QueuedEvent& q = s.queue.back();
    q.e.type = type;
    q.e.time_ms = nowMs - s.startMs;
    if (cs != nullptr) {
        q.e.peer = cs->peer;
        q.e.handshake = cs->state;
    }
    return q;
}

ClientSession& sessionFor(mvs_server& s, const mvs_addr& from, std::uint32_t sessionId, std::uint64_t nowMs) {
    SessionKey key{from.ip, from.port, sessionId};
    auto it = s.sessions.find(key);
    if (it == s.sessions.end()) {
        if (s.sessions.size() >= s.options.max_sessions && !s.sessions.empty()) {
            auto oldest = s.sessions.begin();
            for (auto j = s.sessions.begin(); j != s.sessions.end(); ++j)
                if (j->second.lastSeenMs < oldest->second.lastSeenMs) oldest = j;
            closeReports(s, oldest->second, "session evicted", 0, nowMs);
            queueEvent(s, MVS_EV_DROPPED, &oldest->second, nowMs);
            s.sessions.erase(oldest);
        }
        ClientSession cs;
        cs.peer.addr = from;
        cs.peer.session_id = sessionId;
        it = s.sessions.emplace(key, cs).first;
    }
    it->second.lastSeenMs = nowMs;
    return it->second;
}

}  // namespace marvik

using namespace marvik;

extern "C" {

void mvs_options_init(mvs_options* o) {
    *o = mvs_options{};
    o->report_timeout_ms = DEFAULT_REPORT_TIMEOUT_MS;
    o->silence_timeout_ms = DEFAULT_SILENCE_TIMEOUT_MS;
    o->max_sessions = DEFAULT_MAX_SESSIONS;
}

mvs_server* mvs_create(const mvs_options* options, uint64_t now_ms) {
    mvs_server* s = new (std::nothrow) mvs_server;
    if (s == nullptr) return nullptr;
    if (options != nullptr)
        s->options = *options;
    else
        mvs_options_init(&s->options);
    if (s->options.max_sessions == 0) s->options.max_sessions = 1;
    s->startMs = s->nowMs = now_ms;
    return s;
}

void mvs_destroy(mvs_server* s) { delete s; }

int mvs_feed(mvs_server* s, const uint8_t* datagram, size_t size, const mvs_addr* sender, uint64_t now_ms) {
    if (s == nullptr || sender == nullptr) return 0;
    if (datagram == nullptr) size = 0;
    static const uint8_t none[1] = {0};
    s->nowMs = now_ms;
    return guarded([&] { handleDatagram(*s, datagram != nullptr ? datagram : none, size, *sender, now_ms); });
}

int mvs_tick(mvs_server* s, uint64_t now_ms) {
    s->nowMs = now_ms;
    return guarded([&] {
        for (auto it = s->sessions.begin(); it != s->sessions.end();) {
            ClientSession& cs = it->second;
            closeReports(*s, cs, "timeout", s->options.report_timeout_ms, now_ms);
            if (now_ms < silenceDeadline(*s, cs)) {
                ++it;
                continue;
            }
            closeReports(*s, cs, "session silent", 0, now_ms);
            queueEvent(*s, MVS_EV_SILENT, &cs, now_ms);
            it = s->sessions.erase(it);
        }
    });
}

uint64_t mvs_next_deadline(const mvs_server* s) {
    std::uint64_t next = UINT64_MAX;
    for (const auto& entry : s->sessions)
        next = std::min({next, reportsDeadline(entry.second, s->options.report_timeout_ms),
                         silenceDeadline(*s, entry.second)});
    return next;
}

int mvs_close_reports(mvs_server* s, uint64_t now_ms) {
    s->nowMs = now_ms;
    return guarded([&] {
        for (auto& entry : s->sessions) closeReports(*s, entry.second, "server stopped", 0, now_ms);
    });
}

int mvs_next_event(mvs_server* s, mvs_event* event) {
    if (s->queue.empty()) return 0;
    QueuedEvent& q = s->taken;
    q = std::move(s->queue.front());
    s->queue.pop_front();
    mvs_event& e = q.e;
    switch (e.type) {
    case MVS_EV_SEND:
        e.send.bytes = q.bytes.data();
        e.send.size = q.bytes.size();
        break;
    case MVS_EV_MALFORMED:
        e.malformed.reason = q.reason.c_str();
        break;
    case MVS_EV_ANSWER:
        e.answer.reason = q.reason.c_str();
        break;
    case MVS_EV_MODULE_LIST:
    case MVS_EV_MODULE_LOG:
        e.modules.reason = q.reason.c_str();
        e.modules.modules = q.modules.data();
        e.modules.module_count = q.modules.size();
        e.modules.missing_chunks = q.missing.data();
        e.modules.missing_count = q.missing.size();
        break;
    case MVS_EV_CONFIG:
        e.config.reason = q.reason.c_str();
        e.config.data = q.bytes.data();
        e.config.size = q.bytes.size();
        break;
    default:
        break;
    }
    *event = e;
    return 1;
}

int mvs_verdict(mvs_server* s, const mvs_peer* peer, int accept, const char* reason) {
    ClientSession* cs = findSession(*s, peer);
    if (cs == nullptr) return 0;
    return guarded([&] {
        if (accept) {
            cs->state = MVS_HS_VERIFIED;
            queueSend(*s, *cs, PKT_VERIFY_OK, nullptr, 0, s->nowMs);
        } else {
            cs->state = MVS_HS_REJECTED;
            queueSend(*s, *cs, PKT_KICK, reason, textLength(reason), s->nowMs);
        }
    });
}

int mvs_command(mvs_server* s, const mvs_peer* peer, uint8_t type, const char* text) {
    ClientSession* cs = findSession(*s, peer);
    if (cs == nullptr || (type != PKT_KICK && type != PKT_SCREENSHOT_REQUEST && type != PKT_UPDATE_AVAILABLE))
        return 0;
    return guarded([&] {
        if (type == PKT_KICK) cs->state = MVS_HS_KICKED;
        queueSend(*s, *cs, type, text, textLength(text), s->nowMs);
    });
}

}  // extern "C"
