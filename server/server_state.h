// What an mvs_server holds: its sessions, each with the reports being put
// together, and the queue of events not yet taken. Internal to the library.
//
// server_packets.cpp checks a datagram and hands it to its type's handler;
// server_reports.cpp puts chunked reports back together; server_api.cpp is
// the C interface, the session table and the event queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "marvik_server.h"

namespace marvik {

// A module list or module log report being put together from its chunks.
struct ChunkedReport {
    bool active = false;
    std::uint16_t chunkCount = 0;
    std::uint16_t totalEntries = 0;
    std::uint32_t tickCount = 0;  // module log only: names the report
    std::vector<std::vector<std::uint8_t>> chunks;  // payloads by index
    std::vector<bool> have;
    std::uint16_t received = 0;
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
    mvs_peer peer{};
    mvs_handshake state = MVS_HS_NONE;
    bool challenged = false;
    std::uint8_t challenge[32] = {};
    std::uint64_t lastSeenMs = 0;  // silence and eviction go by it
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

// An event with the storage its pointers point into; they are set when the
// event is taken, as the queue moves its entries.
struct QueuedEvent {
    mvs_event e{};
    std::string reason;
    std::vector<std::uint8_t> bytes;  // a datagram to send, or a file
    std::vector<mvs_module> modules;
    std::vector<std::uint16_t> missing;
};

}  // namespace marvik

struct mvs_server {
    mvs_options options{};
    std::uint64_t startMs = 0;
    std::uint64_t nowMs = 0;  // of the last call that gave the time
    std::map<marvik::SessionKey, marvik::ClientSession> sessions;
    std::deque<marvik::QueuedEvent> queue;
    marvik::QueuedEvent taken;  // what mvs_next_event returned last
};

namespace marvik {

// Queues an event of type about cs (null: none) at nowMs and returns it, for
// the caller to fill in.
QueuedEvent& queueEvent(mvs_server& s, mvs_event_type type, const ClientSession* cs, std::uint64_t nowMs);

// Frames a datagram to cs by the client's rules (payload encrypted where
// they say) and queues it as MVS_EV_SEND; returns nothing.
void queueSend(mvs_server& s, const ClientSession& cs, std::uint8_t type, const void* payload,
               std::size_t length, std::uint64_t nowMs);

// Handles one datagram (server_packets.cpp).
void handleDatagram(mvs_server& s, const std::uint8_t* bytes, std::size_t n, const mvs_addr& from,
                    std::uint64_t nowMs);

// The session of this sender and session id, made on its first datagram;
// when the table is full the least recently heard one is dropped first.
ClientSession& sessionFor(mvs_server& s, const mvs_addr& from, std::uint32_t sessionId, std::uint64_t nowMs);

// Copies a fixed-size text field up to its first NUL into out (size + 1
// bytes), always terminated.
void copyField(char* out, const char* field, std::size_t size);

// Chunked reports (server_reports.cpp). Each handler gets a payload whose
// size and chunk head have been checked.
void onModuleListChunk(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len,
                       std::uint64_t nowMs);
void onModuleLogChunk(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len,
                      std::uint64_t nowMs);
void onConfigChunk(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len,
                   std::uint64_t nowMs);
// Ends the open reports of cs as incomplete with reason: every one when
// idleMs is 0, else those that got no chunk for idleMs.
void closeReports(mvs_server& s, ClientSession& cs, const char* reason, std::uint32_t idleMs,
                  std::uint64_t nowMs);
// When the first open report of cs will have gone idleMs without a chunk,
// or UINT64_MAX when none is open.
std::uint64_t reportsDeadline(const ClientSession& cs, std::uint32_t idleMs);

// The system's random source (system_random_posix.cpp, _win32.cpp): 1 when
// all n bytes were filled.
int systemRandom(void* context, std::uint8_t* out, std::size_t n);

}  // namespace marvik
