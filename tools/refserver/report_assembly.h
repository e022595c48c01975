// The reports that arrive in chunks (module list, module log, player
// configuration), put back together per session. Each handler gets a
// payload whose size and chunk head packet_table.cpp has already checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "server_output.h"

namespace marvik {

// Stores one module list chunk and emits its event, then the list's when
// the chunk completes it or starts another; returns nothing.
void onModuleListChunk(const ServerCall& c, ClientSession& cs, const std::uint8_t* p,
                       std::size_t len);

// Stores one module log chunk and emits its event, then the log's when the
// chunk completes it or starts another; returns nothing.
void onModuleLogChunk(const ServerCall& c, ClientSession& cs, const std::uint8_t* p,
                      std::size_t len);

// Appends one configuration slice and emits its event, then the upload's
// when the slice ends it or shows that one was lost; returns nothing.
void onConfigChunk(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t len);

// Closes the open reports of cs as incomplete with reason: every one when
// idleMs is 0, else those that got no chunk for idleMs. Returns nothing.
void closeReports(const ServerCall& c, ClientSession& cs, const char* reason, std::uint32_t idleMs);

// Returns when the first open report of cs will have gone idleMs without a
// chunk, or UINT64_MAX when none is open.
std::uint64_t reportsDeadline(const ClientSession& cs, std::uint32_t idleMs);

}  // namespace marvik
