// A game's memory: a read outside one piece fails, as one of freed memory does; reads are counted.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "base/little_endian.h"
#include "checks/memory_scan.h"
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

// Region maps in VirtualQueryEx's values: types, states, protections.
constexpr std::uint32_t IMAGE = 0x1000000, MAPPED = 0x40000, PRIVATE = 0x20000, COMMIT = 0x1000, RESERVE = 0x2000;
constexpr std::uint32_t R = 0x02, RW = 0x04, RX = 0x20, RWX = 0x40;

// A region of an allocation at its own base unless another is given.
inline MemoryRegion region(std::uint64_t base, std::uint64_t size, std::uint32_t protect, std::uint32_t type,
                           std::uint64_t allocation = 0, std::uint32_t state = COMMIT) {
    return MemoryRegion{base, size, allocation != 0 ? allocation : base, state, protect, type};
}

// PE image builders. Headers of width 4 or 8: MZ, PE at 0x80, the optional header's size and magic.
inline void peHeaders(std::vector<std::uint8_t>& image, int width) {
    std::memcpy(&image[0], "MZ", 2);
    storeLe32(&image[0x3C], 0x80);
    std::memcpy(&image[0x80], "PE\0\0", 4);
    storeLe16(&image[0x94], width == 8 ? 0xF0 : 0xE0);
    storeLe16(&image[0x98], width == 8 ? 0x20B : 0x10B);
}
// A module in game memory: its headers at base, in 0x3000 bytes.
inline std::vector<std::uint8_t>& peImage(FakeMemory& memory, std::uint64_t base, int width) {
    std::vector<std::uint8_t>& image = memory.pieces[base];
    image.resize(0x3000);
    peHeaders(image, width);
    return image;
}
inline void peDirectory(std::vector<std::uint8_t>& image, int width, int index, std::uint32_t rva, std::uint32_t size) {
    const std::size_t at = 0x98 + (width == 8 ? 112 : 96) + 8 * index;
    storeLe32(&image[at], rva);
    storeLe32(&image[at + 4], size);
}
// Section i of the table (the count is the caller's), its raw data as large as its image.
inline void peSection(std::vector<std::uint8_t>& image, int width, int i, const char* name, std::uint32_t rva,
                      std::uint32_t size, std::uint32_t file, std::uint32_t flags) {
    std::uint8_t* s = &image[0x98 + (width == 8 ? 240 : 224) + 40 * i];
    std::memset(s, 0, 40);
    std::memcpy(s, name, std::strlen(name));
    storeLe32(s + 8, size);
    storeLe32(s + 12, rva);
    storeLe32(s + 16, size);
    storeLe32(s + 20, file);
    storeLe32(s + 36, flags);
}
inline void peText(std::vector<std::uint8_t>& image, std::uint32_t rva, const char* s) {
    std::memcpy(&image[rva], s, std::strlen(s) + 1);
}
// Exports at 0x1000 (0x800 bytes), name[i] -> rva[i] in order; an rva inside is a forwarder the caller writes.
inline void peExports(std::vector<std::uint8_t>& image, int width,
                      const std::vector<std::pair<const char*, std::uint32_t>>& list) {
    peDirectory(image, width, 0, 0x1000, 0x800);
    const std::uint32_t n = static_cast<std::uint32_t>(list.size());
    const std::uint32_t fields[] = {1, n, n, 0x1100, 0x1200, 0x1300};  // ordinal base, counts, tables
    for (int i = 0; i < 6; ++i) storeLe32(&image[0x1000 + 16 + 4 * i], fields[i]);
    for (std::uint32_t i = 0; i < n; ++i) {
        storeLe32(&image[0x1100 + 4 * i], list[i].second);
        storeLe32(&image[0x1200 + 4 * i], 0x1400 + 0x40 * i);
        storeLe16(&image[0x1300 + 2 * i], static_cast<std::uint16_t>(i));
        peText(image, 0x1400 + 0x40 * i, list[i].first);
    }
}

}  // namespace marvik::test
