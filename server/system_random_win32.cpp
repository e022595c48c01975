// rand_s draws from the system's generator (RtlGenRandom), with no library
// to link beyond the C runtime.
#define _CRT_RAND_S
#include <stdlib.h>

#include "server_state.h"

namespace marvik {

int systemRandom(void*, std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 4) {
        unsigned int v = 0;
        if (rand_s(&v) != 0) return 0;
        for (std::size_t k = 0; k < 4 && i + k < n; ++k) out[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    return 1;
}

}  // namespace marvik
