#include "answer_check.h"

#include <cstring>

#include "session/challenge.h"

namespace marvik {

bool challengeAnswerMatches(const std::uint8_t challenge[32], const std::uint8_t answer[32]) {
    std::uint8_t expected[AC_ANSWER_SIZE];
    computeChallengeAnswer(challenge, expected);
    return std::memcmp(expected, answer, sizeof expected) == 0;
}

void clientChallengeAnswer(const std::uint8_t challenge[32], std::uint8_t answer[32]) {
    computeChallengeAnswer(challenge, answer);
}

bool clientChallengeFromPayload(const void* buffer, std::int32_t payloadLength,
                                std::int32_t bufferCapacity, std::uint8_t challenge[32]) {
    return challengeFromPayload(buffer, payloadLength, bufferCapacity, challenge);
}

}  // namespace marvik
