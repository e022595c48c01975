// The client's challenge code as the server and its tests use it. Reached
// through this file because session/challenge.h and net/packets.h both
// define AC_CHALLENGE_SIZE and AC_ANSWER_SIZE, so no file can include both;
// once challenge.h takes them from packets.h, callers may include it directly.
#pragma once

#include <cstdint>

namespace marvik {

// True when answer is what computeChallengeAnswer gives for challenge.
bool challengeAnswerMatches(const std::uint8_t challenge[32], const std::uint8_t answer[32]);

// computeChallengeAnswer and challengeFromPayload, unchanged.
void clientChallengeAnswer(const std::uint8_t challenge[32], std::uint8_t answer[32]);
bool clientChallengeFromPayload(const void* buffer, std::int32_t payloadLength,
                                std::int32_t bufferCapacity, std::uint8_t challenge[32]);

}  // namespace marvik
