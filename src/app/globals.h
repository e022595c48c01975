// Process-wide flags and values shared by the UI thread, the monitor thread
// and a session's worker threads. The flags are atomic; the configuration
// values are written by the monitor thread before the first session and only
// read afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace marvik {

// Stop request: true from start, cleared by the stop command and the shutdown.
extern std::atomic<bool> g_running;
// The current session goes on while this is true; any party may clear it.
extern std::atomic<bool> g_sessionActive;
// Set once the handshake's verdict step is over.
extern std::atomic<bool> g_verified;
// Set when the server rejected the client; cleared when a session starts.
extern std::atomic<bool> g_rejected;
// The game's process id while one is known, else 0. Atomic because the tray
// menu reads it on the UI thread while the monitor writes it.
extern std::atomic<std::uint32_t> g_gamePID;

// Configuration (marvik_ac.cfg).
extern std::string g_serverIP;
extern std::uint16_t g_serverPort;
extern std::string g_playerName;
extern bool g_autoStart;
extern bool g_encryption;

// Session values.
extern std::uint32_t g_sessionStartTick;
extern std::uint32_t g_initialSelfCRC;
// Session worker threads that have not ended yet, whatever their session.
// The process end must not run static destructors under one of them.
extern std::atomic<int> g_liveWorkers;

}  // namespace marvik
