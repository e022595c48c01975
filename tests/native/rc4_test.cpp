#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/hash.h"
#include "net/rc4.h"

namespace marvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes keystream(const std::string& key, std::size_t length) {
    Bytes data(length, 0);
    rc4_crypt(data.data(), static_cast<std::int32_t>(length), reinterpret_cast<const std::uint8_t*>(key.data()),
              static_cast<std::int32_t>(key.size()));
    return data;
}

// RFC 6229 keystreams, including offsets past the first 256 bytes, and the
// shared key's as OpenSSL's RC4 gives it. Each row is a new call, so a key
// used again shows that no state is carried from one packet to the next.
TEST(Rc4, MatchesPublishedVectors) {
    const std::string shared(reinterpret_cast<const char*>(AC_ENCRYPT_KEY), AC_ENCRYPT_KEY_LENGTH);
    const struct {
        std::string key;
        std::size_t offset;
        const char* keystream;
    } vectors[] = {
        {"\x01\x02\x03\x04\x05", 0, "b2396305f03dc027ccc3524a0a1118a8"},
        {"\x01\x02\x03\x04\x05", 4096, "ff25b58995996707e51fbdf08b34d875"},
        {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {shared, 0, "c230c792ab1a33d7"},
    };
    for (const auto& v : vectors) {
        const std::size_t length = std::string(v.keystream).size() / 2;
        const Bytes ks = keystream(v.key, v.offset + length);
        EXPECT_EQ(toHex(ks.data() + v.offset, length), v.keystream) << v.key.size() << "-byte key at " << v.offset;
    }
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
    const std::string key(256, 'Z');
    EXPECT_NE(keystream(key, 64), keystream(key.substr(0, 255) + 'Y', 64));
}

}  // namespace
}  // namespace marvik
