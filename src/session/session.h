// One game session, from the wait for the game to the teardown.
#pragma once

#include <string>

namespace marvik {

// The session's result, read by the monitor loop; the values travel no
// further, but 3 alone ends the monitor.
enum MonitorResult : int {
    SESSION_ENDED = 0,         // ran and ended (game gone, stopped, kicked)
    SESSION_STOPPED = 1,       // the program stopped before the session could run
    SESSION_NO_SOCKET = 1,     // no UDP socket could be created
    SESSION_NO_CHALLENGE = 2,
    SESSION_REJECTED = 3,
};

int runSession(const std::string& hwid);

}  // namespace marvik
