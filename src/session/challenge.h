// The answer to the server's challenge, which proves to the server plug-in
// that the client knows the secret they share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/packets.h"

namespace marvik {

// HMAC-MD5 (RFC 2104): keys longer than 64 bytes are hashed first.
void hmacMd5(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* message, std::size_t messageLength,
             std::uint8_t mac[16]);

// answer[0..15]  = HMAC-MD5(secret, 00 00 00 01 || challenge)
// answer[16..31] = HMAC-MD5(secret, 00 00 00 02 || challenge)
// with the 32-character secret compiled into client and plug-in alike.
// The counters keep the two halves independent, so the answer carries 32
// bytes of MAC rather than one MAC twice.
void computeChallengeAnswer(const std::uint8_t challenge[AC_CHALLENGE_SIZE], std::uint8_t answer[AC_ANSWER_SIZE]);

// The challenge to answer from a received PKT_CHALLENGE: the first 32 bytes
// of its payload, zero-filled when fewer came, so bytes left in the buffer
// by an earlier packet never enter the answer. payloadLength is what the
// receive returned, bufferCapacity the size of the buffer it received into.
// False, with challenge all zero, when there is nothing to answer: no packet
// (negative length), or a payload larger than the buffer, of which the
// receive copied nothing. The handshake treats that as no challenge.
bool challengeFromPayload(const void* buffer, std::int32_t payloadLength, std::int32_t bufferCapacity,
                          std::uint8_t challenge[AC_CHALLENGE_SIZE]);

}  // namespace marvik
