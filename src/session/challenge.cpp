#include "session/challenge.h"

#include <cstring>

#include "inventory/hash.h"

namespace marvik {

namespace {

constexpr std::size_t MD5_BLOCK_SIZE = 64;

// Shared with the server plug-in; the build sets it (MARVIK_CHALLENGE_SECRET
// in CMake), so a community can have its own. A client and a server built
// with different secrets never agree on an answer.
#ifndef MARVIK_CHALLENGE_SECRET
#error "MARVIK_CHALLENGE_SECRET is set by the build (CMake cache variable of that name)"
#endif
constexpr char AC_CHALLENGE_SECRET[] = MARVIK_CHALLENGE_SECRET;
constexpr std::size_t AC_CHALLENGE_SECRET_LENGTH = sizeof(AC_CHALLENGE_SECRET) - 1;
static_assert(AC_CHALLENGE_SECRET_LENGTH == 32, "the secret has 32 characters");

void answerHalf(std::uint32_t counter, const std::uint8_t challenge[AC_CHALLENGE_SIZE], std::uint8_t mac[16]) {
    std::uint8_t message[4 + AC_CHALLENGE_SIZE];
    message[0] = static_cast<std::uint8_t>(counter >> 24);
    message[1] = static_cast<std::uint8_t>(counter >> 16);
    message[2] = static_cast<std::uint8_t>(counter >> 8);
    message[3] = static_cast<std::uint8_t>(counter);
    std::memcpy(message + 4, challenge, AC_CHALLENGE_SIZE);
    hmacMd5(reinterpret_cast<const std::uint8_t*>(AC_CHALLENGE_SECRET), AC_CHALLENGE_SECRET_LENGTH, message,
            sizeof message, mac);
}

}  // namespace

void hmacMd5(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* message, std::size_t messageLength,
             std::uint8_t mac[16]) {
    std::uint8_t block[MD5_BLOCK_SIZE] = {};
    if (keyLength > MD5_BLOCK_SIZE)
        md5Compute(key, keyLength, block);
    else if (keyLength > 0)
        std::memcpy(block, key, keyLength);

    std::uint8_t pad[MD5_BLOCK_SIZE];
    for (std::size_t i = 0; i < MD5_BLOCK_SIZE; ++i) pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x36);
    std::uint8_t inner[MD5_DIGEST_SIZE];
    MD5Context ctx;
    md5Init(ctx);
    md5Update(ctx, pad, sizeof pad);
    md5Update(ctx, message, messageLength);
    md5Final(ctx, inner);

    for (std::size_t i = 0; i < MD5_BLOCK_SIZE; ++i) pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x5c);
    md5Init(ctx);
    md5Update(ctx, pad, sizeof pad);
    md5Update(ctx, inner, sizeof inner);
    md5Final(ctx, mac);
}

void computeChallengeAnswer(const std::uint8_t challenge[AC_CHALLENGE_SIZE], std::uint8_t answer[AC_ANSWER_SIZE]) {
    answerHalf(1, challenge, answer);
    answerHalf(2, challenge, answer + 16);
}

bool challengeFromPayload(const void* buffer, std::int32_t payloadLength, std::int32_t bufferCapacity,
                          std::uint8_t challenge[AC_CHALLENGE_SIZE]) {
    std::memset(challenge, 0, AC_CHALLENGE_SIZE);
    if (payloadLength < 0 || payloadLength > bufferCapacity) return false;
    if (payloadLength > 0 && buffer == nullptr) return false;
    std::size_t take = static_cast<std::size_t>(payloadLength);
    if (take > AC_CHALLENGE_SIZE) take = AC_CHALLENGE_SIZE;
    if (take > 0) std::memcpy(challenge, buffer, take);
    return true;
}

}  // namespace marvik
