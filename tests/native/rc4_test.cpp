#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/rc4.h"

namespace marvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes keystream(const Bytes& key, std::size_t length) {
    Bytes data(length, 0);
    rc4_crypt(data.data(), static_cast<std::int32_t>(length), key.data(), static_cast<std::int32_t>(key.size()));
    return data;
}

Bytes slice(const Bytes& b, std::size_t offset, std::size_t length) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset),
                 b.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

// RFC 6229 keystreams, including offsets past the first 256 bytes.
TEST(Rc4, MatchesPublishedVectors) {
    Bytes ks40 = keystream({0x01, 0x02, 0x03, 0x04, 0x05}, 4112);
    EXPECT_EQ(slice(ks40, 0, 16), (Bytes{0xb2, 0x39, 0x63, 0x05, 0xf0, 0x3d, 0xc0, 0x27, 0xcc, 0xc3, 0x52, 0x4a,
                                         0x0a, 0x11, 0x18, 0xa8}));
    EXPECT_EQ(slice(ks40, 256, 16), (Bytes{0x1c, 0xfc, 0xf6, 0x2b, 0x03, 0xed, 0xdb, 0x64, 0x1d, 0x77, 0xdf, 0xcf,
                                           0x7f, 0x8d, 0x8c, 0x93}));
    EXPECT_EQ(slice(ks40, 4096, 16), (Bytes{0xff, 0x25, 0xb5, 0x89, 0x95, 0x99, 0x67, 0x07, 0xe5, 0x1f, 0xbd, 0xf0,
                                            0x8b, 0x34, 0xd8, 0x75}));

    Bytes ks128 = keystream({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e,
                             0x0f, 0x10},
                            16);
    EXPECT_EQ(slice(ks128, 0, 16), (Bytes{0x9a, 0xc7, 0xcc, 0x9a, 0x60, 0x9d, 0x1e, 0xf7, 0xb2, 0x93, 0x28, 0x99,
                                          0xcd, 0xe4, 0x1b, 0x97}));
}

// The shared key's keystream as OpenSSL's RC4 gives it, from its first byte
// on every call: no state is carried from one packet to the next.
TEST(Rc4, SharedKeyStartsTheSameKeystreamOnEveryCall) {
    const Bytes expected = {0xc2, 0x30, 0xc7, 0x92, 0xab, 0x1a, 0x33, 0xd7};
    EXPECT_EQ(keystream(Bytes(AC_ENCRYPT_KEY, AC_ENCRYPT_KEY + AC_ENCRYPT_KEY_LENGTH), 8), expected);
    std::uint8_t a = 0x00;
    std::uint8_t b = 0xFF;
    rc4_crypt(&a, 1, AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    rc4_crypt(&b, 1, AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    EXPECT_EQ(a, 0xc2);
    EXPECT_EQ(b, 0xc2 ^ 0xFF);
}

TEST(Rc4, NonPositiveLengthsAndBadKeysChangeNothing) {
    Bytes data = {1, 2, 3};
    rc4_crypt(data.data(), 0, AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    rc4_crypt(data.data(), -5, AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    rc4_crypt(data.data(), 3, AC_ENCRYPT_KEY, 0);
    rc4_crypt(data.data(), 3, nullptr, 16);
    rc4_crypt(nullptr, 3, AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    EXPECT_EQ(data, (Bytes{1, 2, 3}));
}

TEST(Rc4, KeyOf256BytesUsesEveryByte) {
    Bytes key(256, 0x5A);
    Bytes other = key;
    other[255] = 0x5B;
    EXPECT_NE(keystream(key, 64), keystream(other, 64));
}

}  // namespace
}  // namespace marvik
