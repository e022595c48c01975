// What the server puts out: events, each as one JSON line and one readable
// summary line, and the reply datagrams that go with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "json_lines.h"
#include "server_core.h"

namespace marvik {

// One call into the server: its state, where its events and replies go, and
// the time it was called at.
struct ServerCall {
    ServerState& state;
    ServerOutput& out;
    std::uint64_t nowMs;
};

// An event being written: its name, its JSON fields and its summary so far.
struct EventBuilder {
    const char* name;
    JsonObject json;
    std::string summary;
};

// Returns an event that starts with its name and the server's uptime, in
// both forms; the caller adds its fields and then emits it.
EventBuilder beginEvent(const ServerCall& c, const char* name);

// Adds the sender and the session id of cs to both forms of b; returns
// nothing.
void addPeer(EventBuilder& b, const ClientSession& cs);

// Appends the finished event to the call's output and returns it there, so
// that a report can attach what it held.
ServerEvent& emitEvent(const ServerCall& c, const EventBuilder& b);

// Returns a wire text for the summary: printable ASCII as it is, any other
// byte as \xNN, so a hostile name cannot drive the terminal.
std::string printable(const std::string& bytes);

// Counts a datagram that cannot be understood and emits its "malformed"
// event with the reason; returns nothing.
void emitMalformed(const ServerCall& c, const Endpoint& from, std::size_t n,
                   const std::string& reason);

// Frames a reply to cs by the client's own rules (encrypted where they say),
// queues it and emits its "sent" event; returns nothing.
void sendReply(const ServerCall& c, const ClientSession& cs, std::uint8_t type, const void* payload,
               std::size_t length, const char* why);

// Sends PKT_KICK to cs with why as its payload, which the client never
// reads but which helps whoever watches the wire; returns nothing.
void sendKick(const ServerCall& c, const ClientSession& cs, const char* why);

}  // namespace marvik
