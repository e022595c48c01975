// The game's memory as a fuzz input lays it out: a run of pieces, each a
// start address and its bytes, for the readers of game memory to walk. A
// read that does not fall inside one piece fails, as a read of freed or
// unmapped memory does; every read is counted, so a target can hold a
// reader to the bound its header promises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "inventory/loader_list.h"

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
    bool done() const { return at >= size; }
};

struct Memory {
    std::map<std::uint64_t, std::vector<std::uint8_t>> pieces;
    std::size_t reads = 0;
    std::size_t bytesRead = 0;

    // Pieces until the input ends: an 8-byte address (aligned down to 8,
    // pieces overlapping an earlier one are dropped), a 2-byte length, the
    // bytes. Addresses are taken modulo range, so pieces meet.
    void fill(Input& in, std::uint64_t range) {
        while (!in.done() && pieces.size() < 64) {
            const std::uint64_t base = (in.take(8) % range) & ~7ull;
            std::size_t length = static_cast<std::size_t>(in.take(2)) % 4096;
            length = std::min(length, in.size - in.at);
            std::vector<std::uint8_t> bytes(in.data + in.at, in.data + in.at + length);
            in.at += length;
            auto next = pieces.lower_bound(base);
            if (next != pieces.end() && next->first < base + length) continue;
            if (next != pieces.begin() && std::prev(next)->first + std::prev(next)->second.size() > base) continue;
            pieces.emplace(base, std::move(bytes));
        }
    }
    ReadMemory reader() {
        return [this](std::uint64_t address, void* out, std::size_t size) {
            ++reads;
            bytesRead += size;
            auto piece = pieces.upper_bound(address);
            if (piece == pieces.begin()) return false;
            --piece;
            const std::uint64_t offset = address - piece->first;  // no wrap: an address near 2^64 reads nothing
            if (offset > piece->second.size() || size > piece->second.size() - offset) return false;
            if (size != 0) std::memcpy(out, &piece->second[address - piece->first], size);
            return true;
        };
    }
};

}  // namespace marvik::fuzz
