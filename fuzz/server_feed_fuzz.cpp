// libFuzzer target: the plug-in library's feed, with its decoder and
// reassembly. One input is a whole conversation: a flags byte, then records
// of a 2-byte length, a 1-byte time step (x 100 ms, so time-outs fire) and
// that many datagram bytes, each from one of four senders.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "marvik_server.h"

namespace {

// Takes every queued event and answers as a plug-in would; a report must
// never claim more than it holds.
void drain(mvs_server* s, std::uint8_t flags) {
    for (mvs_event e; mvs_next_event(s, &e);) {
        if (e.type == MVS_EV_HELLO && (flags & 4)) mvs_command(s, &e.peer, MVS_PKT_KICK, "banned");
        if (e.type == MVS_EV_ANSWER && !(flags & 2)) mvs_verdict(s, &e.peer, e.answer.verified, "bad answer");
        const bool modules = e.type == MVS_EV_MODULE_LIST || e.type == MVS_EV_MODULE_LOG;
        if ((modules && e.modules.complete && e.modules.module_count != e.modules.total_entries) ||
            (e.type == MVS_EV_CONFIG && e.config.complete && e.config.size != e.config.file_size))
            __builtin_trap();
    }
}

// The challenge the seeds in seeds/server_feed answer.
int fixedChallenge(void*, std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    mvs_options o;
    mvs_options_init(&o);
    o.encryption = data[0] & 1;
    o.report_timeout_ms = 1000, o.silence_timeout_ms = data[0] & 8 ? 2000 : 0, o.max_sessions = 3;
    o.fill_random = fixedChallenge;
    std::uint64_t now = 1000;
    mvs_server* s = mvs_create(&o, now);
    for (std::size_t i = 1; i + 3 <= size;) {
        std::size_t len = std::min<std::size_t>(data[i] | data[i + 1] << 8, size - i - 3);
        now += data[i + 2] * 100u;
        i += 3;
        mvs_addr from{0x7F000001u, static_cast<std::uint16_t>(40000 + (len & 3))};
        // An exact copy, so a read past the datagram is caught.
        std::vector<std::uint8_t> datagram(data + i, data + i + len);
        mvs_feed(s, datagram.data(), datagram.size(), &from, now);
        if (now >= mvs_next_deadline(s)) mvs_tick(s, now);
        drain(s, data[0]);
        i += len;
    }
    mvs_close_reports(s, now + 100000);
    drain(s, data[0]);
    mvs_destroy(s);
    return 0;
}
