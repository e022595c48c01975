// libFuzzer target: the reference server's decoder and reassembly. One input
// is a whole conversation: a flags byte, then records of a 2-byte length, a
// 1-byte time step (x 100 ms, so time-outs and timers fire) and that many
// datagram bytes, each from one of four senders. Every event must be one
// line of JSON.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server_core.h"

using namespace marvik;

static void check(const ServerOutput& out) {
    for (const ServerEvent& e : out.events) {
        if (e.json.empty() || e.json.front() != '{' || e.json.back() != '}') __builtin_trap();
        for (char c : e.json)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) __builtin_trap();
    }
    for (const OutDatagram& d : out.replies)
        if (d.bytes.size() < 12) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    ServerOptions o;
    o.encryption = data[0] & 1, o.reject = data[0] & 2, o.noVerdict = data[0] & 4, o.silent = data[0] & 8;
    o.kickAfterSec = data[0] & 16 ? 1 : -1;
    o.screenshotAfterSec = data[0] & 32 ? 0 : -1;
    o.reportTimeoutMs = 1000, o.maxSessions = 3;
    // The challenge make_seeds answers.
    o.fillRandom = [](std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7);
    };
    ServerState state;
    std::uint64_t now = 1000;
    serverInit(state, o, now);
    for (std::size_t i = 1; i + 3 <= size;) {
        std::size_t len = std::min<std::size_t>(data[i] | data[i + 1] << 8, size - i - 3);
        now += data[i + 2] * 100u;
        i += 3;
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
