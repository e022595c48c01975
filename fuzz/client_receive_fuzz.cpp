// libFuzzer target: the client's receive path and challenge taking over one datagram from the network.
#include <vector>

#include "net/udp_client.h"
#include "session/challenge.h"

using namespace marvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) return 0;  // more than one recvfrom can deliver
    for (bool encryption : {false, true}) {
        for (std::int32_t capacity : {1024, 4096, 0}) {
            // Exactly sized copies, so a read past the datagram is caught.
            std::vector<std::uint8_t> datagram(data, data + size), buffer(static_cast<std::size_t>(capacity));
            std::uint8_t* into = capacity > 0 ? buffer.data() : nullptr;
            ACPacketHeader header{};
            std::int32_t n = parseDatagram(datagram.data(), static_cast<std::int32_t>(size), encryption, header, into,
                                           capacity);
            if (n < -1 || (n >= 0 && static_cast<std::size_t>(n) + AC_HEADER_SIZE != size)) __builtin_trap();
            std::uint8_t challenge[32], answer[32];
            if (n >= 0 && header.type == PKT_CHALLENGE && challengeFromPayload(into, n, capacity, challenge))
                computeChallengeAnswer(challenge, answer);
        }
    }
    return 0;
}
