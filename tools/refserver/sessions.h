// The sessions the server keeps, one per sender and session id, and the
// commands their timers send after the verdict.
#pragma once

#include <cstdint>

#include "server_output.h"

namespace marvik {

// Returns the session of this sender and session id, made on its first
// datagram; when the server holds its most already, the least recently seen
// one is dropped first, its open reports closed as incomplete.
ClientSession& sessionFor(const ServerCall& c, const Endpoint& from, std::uint32_t sessionId);

}  // namespace marvik
