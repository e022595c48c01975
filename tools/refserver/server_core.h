// The reference server on the plug-in library (server/marvik_server.h): the
// library decodes, checks answers and puts reports together; this adds the
// server's policy (verdicts, command timers, --silent) and writes every
// event as one JSON line and one readable summary line. main.cpp feeds it
// from a UDP socket; the tests feed it bytes directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "inventory/module_info.h"
#include "marvik_server.h"

namespace marvik {

struct ServerOptions {
    bool encryption = false;  // payloads of types other than 1 and 2 are RC4
    bool reject = false;      // answer every response with PKT_KICK
    bool silent = false;      // send nothing at all
    bool noVerdict = false;   // send the challenge, never a verdict
    // Seconds after the verdict (or after the response when no verdict is
    // sent) at which a command goes out once; negative: never.
    int kickAfterSec = -1;
    int screenshotAfterSec = -1;
    int updateAfterSec = -1;
    // A report that gets no chunk for this long is closed as incomplete.
    std::uint32_t reportTimeoutMs = 5000;
    // Sessions held at once; the least recently seen one is dropped first,
    // so a flood of forged session ids cannot grow memory without bound.
    std::size_t maxSessions = 256;
    // Fills challenges; null means the system's random source.
    void (*fillRandom)(std::uint8_t* out, std::size_t n) = nullptr;
};

// IPv4 address and port, both in host byte order.
using Endpoint = mvs_addr;
// Returns e as "a.b.c.d:port".
std::string endpointText(const Endpoint& e);

struct ServerEvent {
    std::string name;     // the "event" field
    std::string json;     // the whole object, one line, no newline
    std::string summary;  // one readable line, no newline
    // What a finished report held, for callers that act on it.
    bool complete = false;
    std::vector<ModuleInfo> modules;
    std::vector<std::uint8_t> data;
};

struct OutDatagram {
    Endpoint to;
    std::vector<std::uint8_t> bytes;  // framed, encrypted where the rule says
};

struct ServerOutput {
    std::vector<ServerEvent> events;
    std::vector<OutDatagram> replies;
};

// The handshake as the heartbeat's "handshake" field names it.
enum HandshakeState : int {
    HS_NONE,        // no hello seen (reports from an unknown session)
    HS_CHALLENGED,  // hello answered with a challenge
    HS_VERIFIED,    // PKT_VERIFY_OK sent
    HS_REJECTED,    // PKT_KICK sent as the verdict
    HS_NO_VERDICT,  // response received, verdict withheld
    HS_KICKED,      // kicked later by the kick timer
};

// What the server's policy keeps per session beside the library's table.
struct SessionPolicy {
    HandshakeState state = HS_NONE;
    bool timersArmed = false;
    std::uint64_t timerBaseMs = 0;
    bool kickSent = false;
    bool screenshotSent = false;
    bool updateSent = false;
};

// Sender address, port and session id, as the library keys its sessions.
using SessionKey = std::tuple<std::uint32_t, std::uint16_t, std::uint32_t>;

struct ServerCounters {
    std::uint64_t datagrams = 0;
    std::uint64_t malformed = 0;
    std::uint64_t reportsComplete = 0;
    std::uint64_t reportsIncomplete = 0;
    std::uint64_t repliesSent = 0;
};

struct ServerState {
    ServerOptions options;
    std::uint64_t startMs = 0;
    std::unique_ptr<mvs_server, void (*)(mvs_server*)> lib{nullptr, mvs_destroy};
    std::map<SessionKey, SessionPolicy> sessions;
    // Why each datagram this server asked the library for goes out, in order.
    std::deque<const char*> pendingWhy;
    ServerCounters counters;
};

// Resets s to a server with no sessions that started at nowMs; returns
// nothing.
void serverInit(ServerState& s, const ServerOptions& options, std::uint64_t nowMs);

// Handles one received datagram and returns nothing; what it causes is
// appended to out. It never fails: a datagram that cannot be understood
// becomes a "malformed" event with its reason.
void serverHandleDatagram(ServerState& s, const std::uint8_t* bytes, std::size_t n, const Endpoint& from,
                          std::uint64_t nowMs, ServerOutput& out);

// Fires the command timers that are due and closes the reports that timed
// out, appending what that causes to out; returns nothing.
void serverTick(ServerState& s, std::uint64_t nowMs, ServerOutput& out);

// Returns the earliest time at which serverTick has work, or UINT64_MAX when
// it has none.
std::uint64_t serverNextDeadline(const ServerState& s);

// Closes every open report as incomplete at shutdown, appending the report
// events to out; returns nothing.
void serverFinish(ServerState& s, std::uint64_t nowMs, ServerOutput& out);

}  // namespace marvik
