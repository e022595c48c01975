// RC4, the stream cipher of the optional payload encryption.
#pragma once

#include <cstdint>

namespace marvik {

// The key every client and the server plug-in share: the 16 ASCII bytes
// "Xf9_Link_Key_71#", no terminator.
constexpr std::int32_t AC_ENCRYPT_KEY_LENGTH = 16;
inline constexpr std::uint8_t AC_ENCRYPT_KEY[AC_ENCRYPT_KEY_LENGTH] = {
    'X', 'f', '9', '_', 'L', 'i', 'n', 'k', '_', 'K', 'e', 'y', '_', '7', '1', '#'};

// Standard RC4 in place: a fresh key schedule on every call and no keystream
// bytes dropped, so the same call encrypts and decrypts and every call uses
// the same keystream from its first byte on. A length of 0 or less, a key
// length outside 1..256 or a null pointer changes nothing.
void rc4_crypt(std::uint8_t* data, std::int32_t length, const std::uint8_t* key, std::int32_t keyLength);

}  // namespace marvik
