// What the whole process shares across its threads: the stop request, what
// the tray shows of the current session, and the count of session threads
// still running. Each is atomic, as any thread may read it at any time.
// What belongs to one session lives in its link (session/session_link.h).
#pragma once

#include <atomic>
#include <cstdint>

namespace marvik {

// Stop request: true from start, cleared by the stop command and the shutdown.
extern std::atomic<bool> g_running;
// Set once the current session's verdict step is over; the tray menu shows it.
extern std::atomic<bool> g_verified;
// Set when the server rejected the client; cleared when a session starts.
extern std::atomic<bool> g_rejected;
// The game's process id while a session has one, else 0; the tray menu and
// the running-process check read it.
extern std::atomic<std::uint32_t> g_gamePID;
// Session threads that have not ended yet, whatever their session. The
// process end must not run static destructors under one of them.
extern std::atomic<int> g_liveWorkers;

}  // namespace marvik
