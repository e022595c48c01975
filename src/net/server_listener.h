// The session's receiver of server commands: kick, screenshot request,
// update notice.
#pragma once

#include <cstdint>

namespace marvik {

class UDPClient;

// What a command packet's type leads to. Logs its line; a kick also shows
// the balloon and clears g_sessionActive. True for a kick.
bool handleServerCommand(std::uint8_t type);

// Receives until g_running or g_sessionActive is false before a receive,
// or until a kick.
void serverListenLoop(UDPClient& client);

}  // namespace marvik
