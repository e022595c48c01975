// The session's worker threads. Each runs on a thread of its own that holds
// its session's link until it ends; every pause waits on the session's stop
// signal, so a worker ends as soon as its session does.
#pragma once

#include "session/session_link.h"

namespace marvik {

void heartbeatThread(SessionLink& link);
void moduleScanThread(SessionLink& link);
void memoryScanThread(SessionLink& link);

}  // namespace marvik
