// One game session, from the wait for the game to the teardown.
#pragma once

#include <string>

namespace marvik {

// The session's result, read by the monitor loop.
enum MonitorResult : int {
    SESSION_ENDED = 0,       // ran and ended (game gone, stopped, kicked)
    SESSION_NO_GAME = 1,     // stopped before a game was found, or no socket
    SESSION_NO_CHALLENGE = 2,
    SESSION_REJECTED = 3,
};

int runSession(const std::string& hwid);

}  // namespace marvik
