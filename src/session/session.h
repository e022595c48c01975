// One game session, from the wait for the game to the teardown.
#pragma once

#include <string>

#include "app/monitor.h"

namespace marvik {

// Waits for the game, connects, reports and watches it until the session
// ends; returns a MonitorResult.
int runSession(const std::string& hwid);

}  // namespace marvik
