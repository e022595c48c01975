// The client's challenge code under the names the fuzz target of the
// client's receive path uses; other code includes session/challenge.h.
#pragma once

#include <cstdint>

namespace marvik {

// Each calls its namesake in session/challenge.h and returns what it returns.
void clientChallengeAnswer(const std::uint8_t challenge[32], std::uint8_t answer[32]);
bool clientChallengeFromPayload(const void* buffer, std::int32_t payloadLength,
                                std::int32_t bufferCapacity, std::uint8_t challenge[32]);

}  // namespace marvik
