#include <windows.h>

#include "net/platform_clock.h"

namespace marvik {

std::uint32_t tickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

}  // namespace marvik
