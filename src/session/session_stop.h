// The running session's stop signal. Every pause of a session's worker
// threads waits on it, so the threads end as soon as the session ends
// instead of sleeping on into the next one.
#pragma once

#include <cstdint>

namespace marvik {

// A new session: the signal is cleared.
void sessionStopReset();
// The session is ending: every sessionSleep returns at once, now and later.
void sessionStopSignal();
bool sessionStopped();
// Sleeps ms milliseconds; false, early, once the session is told to stop.
bool sessionSleep(std::uint32_t ms);

}  // namespace marvik
