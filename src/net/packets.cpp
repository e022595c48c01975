#include "net/packets.h"

#include <cstring>

namespace marvik {

void copyTextField(char* field, std::size_t size, const char* text) {
    if (field == nullptr || size == 0) return;
    std::memset(field, 0, size);
    if (text == nullptr) return;
    for (std::size_t i = 0; i + 1 < size && text[i] != '\0'; ++i) field[i] = text[i];
}

}  // namespace marvik
