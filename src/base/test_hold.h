// Places where the system tests' build of the client can be told to stall,
// to show what the program does when a thread hangs in a system call. The
// product never sets the hook, so each place costs one load of a null
// pointer.
#pragma once

namespace marvik {

extern void (*g_testHold)(const char* place);

inline void testHold(const char* place) {
    if (g_testHold != nullptr) g_testHold(place);
}

}  // namespace marvik
