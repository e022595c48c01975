// The reference server's protocol logic, without sockets or clocks: a
// datagram, its sender and the time go in; events (JSON Lines and readable
// summary lines) and reply datagrams come out. main.cpp feeds it from a UDP
// socket; tests and the fuzz target feed it bytes directly.
//
// packet_table.cpp checks a datagram and hands it to its type's handler;
// sessions.cpp keeps the sessions and their command timers;
// report_assembly.cpp puts chunked reports back together; server_output.cpp
// writes events and frames replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "inventory/module_info.h"

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
    // Fills challenges; null means the system's random device.
    void (*fillRandom)(std::uint8_t* out, std::size_t n) = nullptr;
};

// IPv4 address and port, both in host byte order.
struct Endpoint {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
};
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

enum HandshakeState : int {
    HS_NONE,        // no hello seen (reports from an unknown session)
    HS_CHALLENGED,  // hello answered with a challenge
    HS_VERIFIED,    // PKT_VERIFY_OK sent
    HS_REJECTED,    // PKT_KICK sent as the verdict
    HS_NO_VERDICT,  // response received, verdict withheld
    HS_KICKED,      // kicked later by the kick timer
};

// A module list or module log report being put together from its chunks.
struct ChunkedReport {
    bool active = false;
    std::uint16_t chunkCount = 0;
    std::uint16_t totalEntries = 0;
    std::uint32_t tickCount = 0;  // module log only: names the report
    std::vector<std::vector<std::uint8_t>> chunks;  // payloads by index
    std::vector<bool> have;
    std::size_t received = 0;
    std::uint32_t duplicates = 0;
    std::uint64_t lastMs = 0;  // when the last chunk came
};

// The configuration upload: slices in arrival order until fileSize bytes.
struct ConfigReport {
    bool active = false;
    std::string player;
    std::uint32_t fileSize = 0;
    std::vector<std::uint8_t> data;
    std::uint32_t chunks = 0;
    std::uint64_t lastMs = 0;
};

struct ClientSession {
    Endpoint from;
    std::uint32_t sessionId = 0;
    HandshakeState state = HS_NONE;
    bool challenged = false;
    std::uint8_t challenge[32] = {};
    std::uint64_t lastSeenMs = 0;  // the least recently seen is evicted first
    bool timersArmed = false;
    std::uint64_t timerBaseMs = 0;
    bool kickSent = false;
    bool screenshotSent = false;
    bool updateSent = false;
    ChunkedReport moduleList;
    ChunkedReport moduleLog;
    ConfigReport config;
};

struct SessionKey {
    std::uint32_t ip;
    std::uint16_t port;
    std::uint32_t sessionId;
    bool operator<(const SessionKey& o) const {
        return std::tie(ip, port, sessionId) < std::tie(o.ip, o.port, o.sessionId);
    }
};

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
    std::map<SessionKey, ClientSession> sessions;
    ServerCounters counters;
};

// Resets s to a server with no sessions that started at nowMs; returns
// nothing.
void serverInit(ServerState& s, const ServerOptions& options, std::uint64_t nowMs);

// Handles one received datagram and returns nothing; what it causes is
// appended to out. It never fails: a datagram that cannot be understood
// becomes a "malformed" event with its reason.
void serverHandleDatagram(ServerState& s, const std::uint8_t* bytes, std::size_t n,
                          const Endpoint& from, std::uint64_t nowMs, ServerOutput& out);

// Fires the command timers that are due and closes the reports that timed
// out, appending what that causes to out; returns nothing.
void serverTick(ServerState& s, std::uint64_t nowMs, ServerOutput& out);

// Returns the earliest time at which serverTick has work, or UINT64_MAX when
// it has none.
std::uint64_t serverNextDeadline(const ServerState& s);

// Closes every open report as incomplete at shutdown, appending the report
// events to out; returns nothing.
void serverFinish(ServerState& s, std::uint64_t nowMs, ServerOutput& out);

// Returns the name of a packet type ("PKT_HELLO"), or "unknown".
const char* packetTypeName(std::uint8_t type);

}  // namespace marvik
