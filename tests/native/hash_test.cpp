#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/hash.h"
#include "session/challenge.h"
#include "support/files.h"

namespace marvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// CRC-32 straight from its definition: eight shifts per byte.
std::uint32_t crc32Bitwise(const std::uint8_t* p, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

Bytes patternBytes(std::size_t length) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
    return out;
}

// The fast paths equal the bitwise definition around their 16- and 64-byte steps and alignments.
TEST(Crc32, BothPathsEqualBitwiseDefinitionAtEveryLengthAndAlignment) {
    EXPECT_EQ(crc32Bitwise(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
    const Bytes data = patternBytes(70000);
    const auto same = [&](std::size_t offset, std::size_t length) {
        const std::uint32_t expected = crc32Bitwise(data.data() + offset, length);
        return crc32Compute(data.data() + offset, length) == expected &&
               crc32UpdatePortable(0, data.data() + offset, length) == expected;
    };
    for (std::size_t offset = 0; offset < 16; ++offset)
        for (std::size_t length = 0; length <= 300; ++length)
            ASSERT_TRUE(same(offset, length)) << "offset " << offset << " length " << length;
    for (std::size_t length : {4095u, 4096u, 8193u, 65536u, 69999u}) EXPECT_TRUE(same(1, length)) << length;
}

// The running-process check reads at most a budget of bytes per scan: a file
// it cannot afford waits for a later scan; a file rewritten in place is read again.
TEST(FileDigests, BudgetDefersUnreadFilesAndRewrittenOnesAreReadAgain) {
    const std::string a = test::besideExe("digest_a.bin"), b = test::besideExe("digest_b.bin");
    test::writeFile(a, std::string(1000, 'a'));
    test::writeFile(b, std::string(3000, 'b'));
    std::uint64_t budget = 2000;
    EXPECT_TRUE(cachedFileHashesWithin(a, fileStamp(a), budget).opened);
    EXPECT_FALSE(cachedFileHashesWithin(b, fileStamp(b), budget).opened);
    EXPECT_EQ(budget, 1000u);  // a charged, b not

    test::writeFile(a, std::string(1000, 'z'));  // same size, new content and write time
    FileStamp changed = fileStamp(a);
    changed.writeTime += 1;  // coarse file-system clocks must not hide the rewrite
    budget = 5000;
    // Python's hashlib.md5(b"z" * 1000)
    EXPECT_EQ(cachedFileHashesWithin(a, changed, budget).md5, "93f8e2ed34e2c6727cf1ee6f138267e9");
    test::removePath(a);
    test::removePath(b);
}

// RFC 2202's key longer than a block, which is hashed first.
TEST(HmacMd5, KeyLongerThanABlockIsHashedFirst) {
    const std::string key(80, '\xaa'), data = "Test Using Larger Than Block-Size Key - Hash Key First";
    std::uint8_t mac[16];
    hmacMd5(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(),
            reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), mac);
    EXPECT_EQ(toHex(mac, sizeof mac), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

// Computed apart from this code (a stock HMAC-MD5 with the shared secret), as the server checks it.
TEST(ChallengeAnswer, MatchesVectorsTheServerChecks) {
    std::uint8_t counting[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof counting; ++i) counting[i] = static_cast<std::uint8_t>(i);
    std::uint8_t answer[AC_ANSWER_SIZE];
    computeChallengeAnswer(counting, answer);
    EXPECT_EQ(toHex(answer, sizeof answer), "aea85709ba9d60719f65a8f16520a8e0191602a7ea8c635c43ea559f16da69ed");
}

// Zero-filled when shorter (never an earlier packet's bytes); a packet larger than the buffer is none.
TEST(ChallengeFromPayload, FirstBytesZeroFilledAndNoneWithoutAFittingPacket) {
    const Bytes buffer = patternBytes(1024);
    const struct {
        std::int32_t length;
        bool ok;
        std::size_t taken;
    } cases[] = {{5, true, 5}, {33, true, 32}, {-1, false, 0}, {1025, false, 0}};
    for (const auto& c : cases) {
        // One byte past the challenge shows a copy that overruns it.
        Bytes challenge(AC_CHALLENGE_SIZE + 1, 0x55), expected(buffer.begin(), buffer.begin() + c.taken);
        expected.resize(AC_CHALLENGE_SIZE, 0);
        expected.push_back(0x55);
        EXPECT_EQ(challengeFromPayload(buffer.data(), c.length, 1024, challenge.data()), c.ok) << c.length;
        EXPECT_EQ(challenge, expected) << c.length;
    }
}

}  // namespace
}  // namespace marvik
