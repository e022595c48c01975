// libFuzzer target: the reference server's decoder and reassembly. One input
// is a whole conversation: a flags byte, then records of a 2-byte length, a
// 1-byte time step (x 100 ms, so time-outs and timers fire) and that many
// datagram bytes, each from one of four senders. Every event must be one
// line of JSON.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server_core.h"

using namespace marvik;

namespace {

void fixedRandom(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7);
}

void check(const ServerOutput& out) {
    for (const ServerEvent& e : out.events) {
        if (e.json.empty() || e.json.front() != '{' || e.json.back() != '}') __builtin_trap();
        for (char c : e.json)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) __builtin_trap();
    }
    for (const OutDatagram& d : out.replies)
        if (d.bytes.size() < 12) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    ServerOptions o;
    std::uint8_t flags = data[0];
    o.encryption = (flags & 1) != 0;
    o.reject = (flags & 2) != 0;
    o.noVerdict = (flags & 4) != 0;
    o.silent = (flags & 8) != 0;
    o.kickAfterSec = (flags & 16) != 0 ? 1 : -1;
    o.screenshotAfterSec = (flags & 32) != 0 ? 0 : -1;
    o.reportTimeoutMs = 1000;
    o.maxSessions = 3;
    o.fillRandom = fixedRandom;

    ServerState state;
    std::uint64_t now = 1000;
    serverInit(state, o, now);
    std::size_t i = 1;
    while (i + 3 <= size) {
        std::size_t len = data[i] | (data[i + 1] << 8);
        now += static_cast<std::uint64_t>(data[i + 2]) * 100;
        i += 3;
        if (len > size - i) len = size - i;
        Endpoint from{0x7F000001u, static_cast<std::uint16_t>(40000 + (len & 3))};
        // An exact copy, so a read past the datagram is caught.
        std::vector<std::uint8_t> datagram(data + i, data + i + len);
        ServerOutput out;
        serverHandleDatagram(state, datagram.data(), datagram.size(), from, now, out);
        serverTick(state, now, out);
        check(out);
        i += len;
    }
    ServerOutput out;
    serverFinish(state, now + 100000, out);
    check(out);
    return 0;
}
