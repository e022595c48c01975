#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/hash.h"
#include "net/rc4.h"

namespace marvik {
namespace {

// RFC 6229 keystreams (one past 256 bytes), the shared key's as OpenSSL's RC4 gives it, and the longest
// key (bytes 0 to 255; from a separate RC4 in Python). Each row is a new call: no state carries over.
TEST(Rc4, MatchesPublishedVectors) {
    std::string longest;
    for (int i = 0; i < 256; ++i) longest += static_cast<char>(i);
    const struct {
        std::string key;
        std::size_t offset;
        const char* keystream;
    } vectors[] = {
        {"\x01\x02\x03\x04\x05", 0, "b2396305f03dc027ccc3524a0a1118a8"},
        {"\x01\x02\x03\x04\x05", 4096, "ff25b58995996707e51fbdf08b34d875"},
        {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {std::string(reinterpret_cast<const char*>(AC_ENCRYPT_KEY), AC_ENCRYPT_KEY_LENGTH), 0, "c230c792ab1a33d7"},
        {longest, 0, "5e2eb7b20d86864f73d39dd95c5a1525"},
    };
    for (const auto& v : vectors) {
        const std::size_t length = std::string(v.keystream).size() / 2;
        std::vector<std::uint8_t> ks(v.offset + length, 0);
        rc4_crypt(ks.data(), static_cast<std::int32_t>(ks.size()), reinterpret_cast<const std::uint8_t*>(v.key.data()),
                  static_cast<std::int32_t>(v.key.size()));
        EXPECT_EQ(toHex(ks.data() + v.offset, length), v.keystream) << v.key.size() << "-byte key at " << v.offset;
    }
}

}  // namespace
}  // namespace marvik
