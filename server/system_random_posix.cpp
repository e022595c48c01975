#include <sys/random.h>

#include "server_state.h"

namespace marvik {

int systemRandom(void*, std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        ssize_t got = getrandom(out, n, 0);
        if (got <= 0) return 0;
        out += got;
        n -= static_cast<std::size_t>(got);
    }
    return 1;
}

}  // namespace marvik
