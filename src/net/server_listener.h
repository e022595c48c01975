// The session's receiver of server commands: kick, screenshot request,
// update notice.
#pragma once

#include <cstdint>

namespace marvik {

struct SessionLink;

// What a command packet's type leads to. Logs its line; a kick also shows
// the balloon and clears g_sessionActive. True for a kick.
bool handleServerCommand(std::uint8_t type);

// The session's listener: receives on the session's client until g_running
// or g_sessionActive is false before a receive, the session is stopped, or
// a kick.
void serverListenThread(SessionLink& link);

}  // namespace marvik
