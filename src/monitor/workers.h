// The session's worker threads. Each runs on a thread of its own that holds
// its session's link until it ends; every pause waits on the session's stop
// signal, so a worker ends as soon as its session does.
#pragma once

#include "checks/checks.h"
#include "session/session_link.h"

namespace marvik {

void heartbeatThread(SessionLink& link);
void moduleScanThread(SessionLink& link);
void memoryScanThread(SessionLink& link);

// One PKT_MEMORY_REPORT for a hit of the memory check (or of the heartbeat's
// watch on the checks).
void sendMemoryReport(UDPClient& client, const MemoryScanHit& hit);

}  // namespace marvik
