#include "answer_check.h"

#include "session/challenge.h"

namespace marvik {

void clientChallengeAnswer(const std::uint8_t challenge[32], std::uint8_t answer[32]) {
    computeChallengeAnswer(challenge, answer);
}

bool clientChallengeFromPayload(const void* buffer, std::int32_t payloadLength,
                                std::int32_t bufferCapacity, std::uint8_t challenge[32]) {
    return challengeFromPayload(buffer, payloadLength, bufferCapacity, challenge);
}

}  // namespace marvik
