// Checksums, digests and ciphers, on published vectors, and the hardware id built from them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/hash.h"
#include "inventory/hwid.h"
#include "net/rc4.h"
#include "session/challenge.h"
#include "support/files.h"
#include "support/report_samples.h"

namespace marvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Both paths around their 16- and 64-byte steps, misaligned; values from Python's zlib.crc32.
TEST(Crc32, BothPathsMatchZlibAroundTheirStepsAndAlignments) {
    const Bytes data = test::fileBytes(70000);
    const std::tuple<std::size_t, std::size_t, std::uint32_t> cases[] = {  // offset, length, CRC
        {0, 9, 0x8DA988AF},  {1, 15, 0xBE8CC062}, {3, 24, 0x2A28A29E},  {5, 31, 0x0C6CE432},
        {7, 63, 0xAD6BB34A}, {2, 79, 0x8DEE066D}, {9, 300, 0x415838EF}, {1, 69999, 0xB35529CE},
    };
    for (const auto& [offset, length, crc] : cases) {
        EXPECT_EQ(crc32Compute(data.data() + offset, length), crc) << length;
        EXPECT_EQ(crc32UpdatePortable(0, data.data() + offset, length), crc) << length;
    }
    EXPECT_EQ(crc32Compute(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
}

// A scan reads at most its budget: a file it cannot afford waits, one rewritten in place is read again.
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

// RFC 2202's key longer than a block, which is hashed first; the answer as computed apart from
// this code (a stock HMAC-MD5 with the shared secret), as the server checks it.
TEST(ChallengeAnswer, MatchesVectorsTheServerChecks) {
    const std::string key(80, '\xaa'), data = "Test Using Larger Than Block-Size Key - Hash Key First";
    std::uint8_t mac[16], counting[AC_CHALLENGE_SIZE], answer[AC_ANSWER_SIZE];
    hmacMd5(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(),
            reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), mac);
    EXPECT_EQ(toHex(mac, sizeof mac), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    for (std::size_t i = 0; i < sizeof counting; ++i) counting[i] = static_cast<std::uint8_t>(i);
    computeChallengeAnswer(counting, answer);
    EXPECT_EQ(toHex(answer, sizeof answer), "aea85709ba9d60719f65a8f16520a8e0191602a7ea8c635c43ea559f16da69ed");
}

// Zero-filled when shorter (never an earlier packet's bytes); a packet larger than the buffer is none.
TEST(ChallengeFromPayload, FirstBytesZeroFilledAndNoneWithoutAFittingPacket) {
    const Bytes buffer = test::fileBytes(1024);
    // payload length, a challenge taken, how many of its bytes
    const std::tuple<std::int32_t, bool, std::size_t> cases[] = {
        {5, true, 5}, {33, true, 32}, {-1, false, 0}, {1025, false, 0}};
    for (const auto& [length, ok, taken] : cases) {
        // One byte past the challenge shows a copy that overruns it.
        Bytes challenge(AC_CHALLENGE_SIZE + 1, 0x55), expected(buffer.begin(), buffer.begin() + taken);
        expected.resize(AC_CHALLENGE_SIZE, 0);
        expected.push_back(0x55);
        EXPECT_EQ(challengeFromPayload(buffer.data(), length, 1024, challenge.data()), ok) << length;
        EXPECT_EQ(challenge, expected) << length;
    }
}

// RFC 6229's 5-byte key, the shared key as OpenSSL's RC4 streams it, and the longest key (bytes
// 0 to 255; from a separate RC4 in Python).
TEST(Rc4, MatchesPublishedVectors) {
    std::string longest;
    for (int i = 0; i < 256; ++i) longest += static_cast<char>(i);
    const std::pair<std::string, std::string> vectors[] = {
        {"\x01\x02\x03\x04\x05", "b2396305f03dc027ccc3524a0a1118a8"},
        {std::string(reinterpret_cast<const char*>(AC_ENCRYPT_KEY), AC_ENCRYPT_KEY_LENGTH), "c230c792ab1a33d7"},
        {longest, "5e2eb7b20d86864f73d39dd95c5a1525"},
    };
    for (const auto& [key, keystream] : vectors) {
        Bytes ks(keystream.size() / 2, 0);
        rc4_crypt(ks.data(), static_cast<std::int32_t>(ks.size()), reinterpret_cast<const std::uint8_t*>(key.data()),
                  static_cast<std::int32_t>(key.size()));
        EXPECT_EQ(toHex(ks.data(), ks.size()), keystream) << key.size() << "-byte key";
    }
}

// Vendor EBX, ECX, EDX of leaf 0, signature EAX of leaf 1, the first serial, then zlib's CRC-32 of that and the
// second serial; every register is set, so that another register or order changes the result.
TEST(HWID, ReadingsInTheirPlaces) {
    HWIDReadings r{{0x00000016, 0x756E6547, 0x6C65746E, 0x49656E69},  // max leaf, "Genu", "ntel", "ineI"
                   {0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF},
                   {0x00, 0x11, 0x22, 0x33, 0x44, 0x55},
                   0x1234ABCD,
                   0xFFFFFFFF};
    EXPECT_EQ(hwidFingerprint(r), "756E65476C65746E49656E69000906EA0011223344551234ABCD");
    EXPECT_EQ(composeHWID(r), "MARVIK-FFFFFFFF-8D9E785A");
}

}  // namespace
}  // namespace marvik
