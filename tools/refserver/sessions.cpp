#include "sessions.h"

#include <algorithm>

#include "net/packets.h"
#include "report_assembly.h"

namespace marvik {

namespace {

// A command a timer sends once, some seconds after the verdict.
struct TimedCommand {
    int ServerOptions::*afterSec;  // negative: never
    bool ClientSession::*sent;
    std::uint8_t type;
    const char* why;
};

// In the order they go out when due at once.
const TimedCommand TIMED_COMMANDS[] = {
    {&ServerOptions::screenshotAfterSec, &ClientSession::screenshotSent, PKT_SCREENSHOT_REQUEST,
     "screenshot timer"},
    {&ServerOptions::updateAfterSec, &ClientSession::updateSent, PKT_UPDATE_AVAILABLE,
     "update timer"},
    {&ServerOptions::kickAfterSec, &ClientSession::kickSent, PKT_KICK, "kick timer"},
};

std::uint64_t commandDue(const ServerState& s, const ClientSession& cs, const TimedCommand& cmd) {
    int after = s.options.*cmd.afterSec;
    if (!cs.timersArmed || cs.state == HS_KICKED || s.options.silent || after < 0 || cs.*cmd.sent)
        return UINT64_MAX;
    return cs.timerBaseMs + static_cast<std::uint64_t>(after) * 1000u;
}

}  // namespace

ClientSession& sessionFor(const ServerCall& c, const Endpoint& from, std::uint32_t sessionId) {
    std::map<SessionKey, ClientSession>& sessions = c.state.sessions;
    SessionKey key{from.ip, from.port, sessionId};
    auto it = sessions.find(key);
    if (it == sessions.end()) {
        if (sessions.size() >= c.state.options.maxSessions && !sessions.empty()) {
            auto oldest = sessions.begin();
            for (auto j = sessions.begin(); j != sessions.end(); ++j)
                if (j->second.lastSeenMs < oldest->second.lastSeenMs) oldest = j;
            closeReports(c, oldest->second, "session evicted", 0);
            sessions.erase(oldest);
        }
        ClientSession cs;
        cs.from = from;
        cs.sessionId = sessionId;
        it = sessions.emplace(key, cs).first;
    }
    it->second.lastSeenMs = c.nowMs;
    return it->second;
}

void serverInit(ServerState& s, const ServerOptions& options, std::uint64_t nowMs) {
    s = ServerState();
    s.options = options;
    if (s.options.maxSessions == 0) s.options.maxSessions = 1;
    s.startMs = nowMs;
}

void serverTick(ServerState& s, std::uint64_t nowMs, ServerOutput& out) {
    ServerCall c{s, out, nowMs};
    for (auto& entry : s.sessions) {
        ClientSession& cs = entry.second;
        closeReports(c, cs, "timeout", s.options.reportTimeoutMs);
        for (const TimedCommand& cmd : TIMED_COMMANDS) {
            std::uint64_t due = commandDue(s, cs, cmd);
            if (due == UINT64_MAX || nowMs < due) continue;
            cs.*cmd.sent = true;
            if (cmd.type == PKT_KICK) {
                cs.state = HS_KICKED;
                sendKick(c, cs, cmd.why);
            } else {
                sendReply(c, cs, cmd.type, nullptr, 0, cmd.why);
            }
        }
    }
}

std::uint64_t serverNextDeadline(const ServerState& s) {
    std::uint64_t next = UINT64_MAX;
    for (const auto& entry : s.sessions) {
        next = std::min(next, reportsDeadline(entry.second, s.options.reportTimeoutMs));
        for (const TimedCommand& cmd : TIMED_COMMANDS)
            next = std::min(next, commandDue(s, entry.second, cmd));
    }
    return next;
}

void serverFinish(ServerState& s, std::uint64_t nowMs, ServerOutput& out) {
    ServerCall c{s, out, nowMs};
    for (auto& entry : s.sessions) closeReports(c, entry.second, "server stopped", 0);
}

}  // namespace marvik
