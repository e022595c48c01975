// One game session, from the wait for the game to the teardown.
#pragma once

#include <string>

#include "config/config.h"

namespace marvik {

// Why a session returned. Only REJECTED changes what the monitor does next
// (it ends).
enum class SessionEnd {
    ENDED,         // ran and ended (game gone, stopped, kicked)
    STOPPED,       // the program stopped before the session could run
    NO_SOCKET,     // no UDP socket could be created
    NO_CHALLENGE,  // the server sent no challenge in two tries
    REJECTED,      // the server rejected the client
};

// Waits for the game, connects, reports and watches it until the session
// ends.
SessionEnd runSession(const Config& config, const std::string& hwid);

}  // namespace marvik
