// Milliseconds since an arbitrary start (system start on Windows), wrapping
// at 32 bits like the Windows tick count. Compare ticks by subtraction.
#pragma once

#include <cstdint>

namespace marvik {

std::uint32_t tickCount();

}  // namespace marvik
