// What the log needs from the platform: one lock and the local wall clock.
#pragma once

#include "report/log.h"

namespace marvik {

void logLockCreate();
void logLockDelete();
void logLockEnter();
void logLockLeave();
LogClock logLocalTime();

}  // namespace marvik
