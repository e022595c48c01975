#include "net/rc4.h"

#include <utility>

namespace marvik {

void rc4_crypt(std::uint8_t* data, std::int32_t length, const std::uint8_t* key, std::int32_t keyLength) {
    if (data == nullptr || key == nullptr || length <= 0 || keyLength <= 0 || keyLength > 256) return;

    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + s[i] + key[i % keyLength]);
        std::swap(s[i], s[j]);
    }

    std::uint8_t x = 0;
    std::uint8_t y = 0;
    for (std::int32_t n = 0; n < length; ++n) {
        x = static_cast<std::uint8_t>(x + 1);
        y = static_cast<std::uint8_t>(y + s[x]);
        std::swap(s[x], s[y]);
        data[n] ^= s[static_cast<std::uint8_t>(s[x] + s[y])];
    }
}

}  // namespace marvik
