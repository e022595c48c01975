// Datagrams and records as bytes on the wire, and elapsed time, for the
// tests that talk to the client or stand in for the server.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace marvik::test {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A record's bytes as they go on the wire.
template <typename Record>
Bytes bytesOf(const Record& r) {
    Bytes out(sizeof r);
    std::memcpy(out.data(), &r, sizeof r);
    return out;
}

// A datagram as the server sends it, built byte by byte rather than by the
// code under test: magic, version 1, type, payload length, a session id.
inline Bytes datagram(std::uint8_t type, const Bytes& payload = {}, std::uint32_t magic = 0x4D414300u) {
    const auto byte = [](std::uint32_t v, int i) { return static_cast<std::uint8_t>(v >> (8 * i)); };
    const auto n = static_cast<std::uint32_t>(payload.size());
    Bytes d = {byte(magic, 0), byte(magic, 1), byte(magic, 2), byte(magic, 3), 0x01, type, byte(n, 0), byte(n, 1),
               0x44, 0x33, 0x22, 0x11};
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

}  // namespace marvik::test
