#include <windows.h>

#include "base/clock.h"

namespace marvik {

std::uint32_t tickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

}  // namespace marvik
