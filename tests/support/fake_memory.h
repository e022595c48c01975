// A game's memory for the portable readers: pieces of bytes by start
// address. A read must fall inside one piece and fails otherwise, as a read
// of freed or unmapped memory does. Reads are counted, so a reader can be
// held to its bound.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "base/little_endian.h"
#include "inventory/loader_list.h"

namespace marvik::test {

struct FakeMemory {
    std::map<std::uint64_t, std::vector<std::uint8_t>> pieces;
    std::size_t reads = 0, bytesRead = 0;

    std::uint8_t* at(std::uint64_t address, std::size_t size) {
        for (auto& [base, bytes] : pieces)
            if (address >= base && address - base <= bytes.size() && size <= bytes.size() - (address - base))
                return bytes.data() + (address - base);
        return nullptr;
    }
    // A pointer of the game's width (4 or 8 bytes).
    void pointer(std::uint64_t address, int width, std::uint64_t value) {
        if (width == 8) storeLe64(at(address, 8), value);
        else storeLe32(at(address, 4), static_cast<std::uint32_t>(value));
    }
    ReadMemory reader() {
        return [this](std::uint64_t address, void* out, std::size_t size) {
            ++reads;
            bytesRead += size;
            const std::uint8_t* p = at(address, size);
            if (p != nullptr && size != 0) std::memcpy(out, p, size);
            return p != nullptr;
        };
    }
};

// The headers of a module of the given width (4 or 8) at the start of image:
// MZ, the PE signature at 0x80, the optional header's size and magic.
inline void peHeaders(std::vector<std::uint8_t>& image, int width) {
    std::memcpy(&image[0], "MZ", 2);
    storeLe32(&image[0x3C], 0x80);
    std::memcpy(&image[0x80], "PE\0\0", 4);
    storeLe16(&image[0x94], width == 8 ? 0xF0 : 0xE0);
    storeLe16(&image[0x98], width == 8 ? 0x20B : 0x10B);
}
inline void peDirectory(std::vector<std::uint8_t>& image, int width, int index, std::uint32_t rva, std::uint32_t size) {
    const std::size_t at = 0x98 + (width == 8 ? 112 : 96) + 8 * index;
    storeLe32(&image[at], rva);
    storeLe32(&image[at + 4], size);
}

}  // namespace marvik::test
