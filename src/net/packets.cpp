#include "net/packets.h"

#include <cstring>

#include "base/utf8.h"

namespace marvik {

void copyTextField(char* field, std::size_t size, const char* text) {
    if (field == nullptr || size == 0) return;
    std::memset(field, 0, size);
    if (text == nullptr) return;
    const std::string wire = wireText(text, size - 1);
    std::memcpy(field, wire.data(), wire.size());
}

}  // namespace marvik
