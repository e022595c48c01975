// The game's memory as a fuzz input lays it out, in the tests' fake memory
// (which fails a read outside a piece and counts every read).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "support/fake_memory.h"

namespace marvik::fuzz {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint64_t take(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(at < size ? data[at++] : 0) << (8 * i);
        return v;
    }
};

using Memory = test::FakeMemory;

// Pieces until the input ends: an 8-byte address (modulo range, so pieces
// meet; aligned down to 8), a 2-byte length, the bytes. Pieces may overlap:
// a read takes the lowest piece that holds all it asks for.
inline void fill(Memory& memory, Input& in, std::uint64_t range) {
    while (in.at < in.size && memory.pieces.size() < 64) {
        const std::uint64_t base = (in.take(8) % range) & ~7ull;
        const std::size_t length = std::min<std::size_t>(in.take(2) % 4096, in.size - in.at);
        memory.pieces.emplace(base, std::vector<std::uint8_t>(in.data + in.at, in.data + in.at + length));
        in.at += length;
    }
}

}  // namespace marvik::fuzz
