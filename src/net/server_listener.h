// The session's receiver of server commands: kick, screenshot request,
// update notice.
#pragma once

#include <cstdint>

namespace marvik {

struct SessionLink;

// What a command packet's type leads to. Logs its line; a kick also shows
// the balloon and stops the session. True for a kick.
bool handleServerCommand(SessionLink& link, std::uint8_t type);

// The session's listener: receives on the session's client until the
// program or the session stops, or a kick.
void serverListenThread(SessionLink& link);

}  // namespace marvik
