// What a session tells the monitor loop when it returns.
#pragma once

namespace marvik {

// Only SESSION_REJECTED changes what the monitor does next (it ends); the
// other values say why the session returned.
enum MonitorResult : int {
    SESSION_ENDED = 0,         // ran and ended (game gone, stopped, kicked)
    SESSION_STOPPED = 1,       // the program stopped before the session could run
    SESSION_NO_SOCKET = 1,     // no UDP socket could be created
    SESSION_NO_CHALLENGE = 2,  // the server sent no challenge in two tries
    SESSION_REJECTED = 3,      // the server rejected the client
};

}  // namespace marvik
