#include "base/process_flags.h"

#include "base/test_hold.h"

namespace marvik {

std::atomic<bool> g_running{true};
std::atomic<bool> g_verified{false};
std::atomic<bool> g_rejected{false};
std::atomic<std::uint32_t> g_gamePID{0};
std::atomic<int> g_liveWorkers{0};

void (*g_testHold)(const char*) = nullptr;

}  // namespace marvik
