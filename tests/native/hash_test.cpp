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

// CRC-32 straight from its definition: eight shifts per byte.
std::uint32_t crc32Bitwise(const std::uint8_t* p, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

// Reproducible filler, the same under every compiler and runtime.
std::vector<std::uint8_t> patternBytes(std::size_t length, std::uint32_t seed) {
    std::vector<std::uint8_t> out(length);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

std::string md5Hex(const void* data, std::size_t length) {
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5Compute(data, length, digest);
    return toHex(digest, sizeof digest);
}

std::string md5Hex(const std::string& s) { return md5Hex(s.data(), s.size()); }

std::string hex(const std::uint8_t* p, std::size_t n) { return toHex(p, n); }

TEST(Md5, MatchesRfc1321Suite) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Crc32, BothPathsEqualBitwiseDefinitionAtEveryLengthAndAlignment) {
    // Lengths around the 16- and 64-byte steps of the fast paths, at every
    // misalignment, and a few long buffers.
    const std::vector<std::uint8_t> data = patternBytes(70000, 3);
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length = 0; length <= 300; ++length) {
            const std::uint8_t* p = data.data() + offset;
            const std::uint32_t expected = crc32Bitwise(p, length);
            ASSERT_EQ(crc32Compute(p, length), expected) << "offset " << offset << " length " << length;
            ASSERT_EQ(crc32UpdatePortable(0, p, length), expected) << "offset " << offset << " length " << length;
        }
    }
    for (std::size_t length : {4095u, 4096u, 8193u, 65536u, 69999u}) {
        const std::uint32_t expected = crc32Bitwise(data.data() + 1, length);
        EXPECT_EQ(crc32Compute(data.data() + 1, length), expected) << length;
        EXPECT_EQ(crc32UpdatePortable(0, data.data() + 1, length), expected) << length;
    }
}

// Natively the differential test reads large files; here, under Wine too,
// the cases a text-mode or unchecked open would get wrong.
TEST(FileHashes, BinaryEmptyAndMissingFiles) {
    const std::string path = test::besideExe("hash_test_file.bin");
    const struct {
        const char* what;
        const char* content;  // null: no file
        std::size_t size;
        bool opened;
        std::uint32_t crc;
        const char* md5;
    } cases[] = {
        // A text-mode read would turn CR LF into LF and stop at Ctrl-Z.
        {"binary", "line\r\nnext\x1a\0tail\r\n", 18, true, 0, nullptr},
        {"empty", "", 0, true, 0, "d41d8cd98f00b204e9800998ecf8427e"},
        {"missing", nullptr, 0, false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::removePath(path);
        if (c.content != nullptr) test::writeFile(path, std::string(c.content, c.size));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.content);
        const std::uint32_t crc = c.md5 != nullptr ? c.crc : crc32Bitwise(bytes, c.size);
        const std::string md5 = c.md5 != nullptr ? c.md5 : md5Hex(bytes, c.size);
        EXPECT_EQ(fileCRC32(path), crc);
        EXPECT_EQ(fileMD5(path), md5);
        const FileHashes both = fileHashes(path);
        EXPECT_EQ(both.opened, c.opened);
        EXPECT_EQ(both.crc32, crc);
        EXPECT_EQ(both.md5, md5);
    }
    test::removePath(path);
}

std::string hmacHex(const std::string& key, const std::string& message) {
    std::uint8_t mac[16];
    hmacMd5(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(),
            reinterpret_cast<const std::uint8_t*>(message.data()), message.size(), mac);
    return toHex(mac, sizeof mac);
}

// RFC 2202: a short key, and keys longer than a block, which are hashed first.
// The running-process check reads at most a budget of bytes per scan: a file
// it cannot afford waits, unread and unjudged, for a later scan, while a file
// hashed before costs nothing and a rewritten one is read again.
TEST(FileDigests, BudgetDefersUnreadFilesWhileCachedOnesAreFree) {
    const std::string a = test::besideExe("digest_a.bin"), b = test::besideExe("digest_b.bin");
    test::writeFile(a, std::string(1000, 'a'));
    test::writeFile(b, std::string(3000, 'b'));
    const std::string md5a = fileMD5(a), md5b = fileMD5(b);

    std::uint64_t budget = 2000;
    EXPECT_EQ(cachedFileHashesWithin(a, fileStamp(a), budget).md5, md5a);
    EXPECT_EQ(budget, 1000u);
    const std::uint64_t reads = fileDigestReads();
    const FileHashes deferred = cachedFileHashesWithin(b, fileStamp(b), budget);
    EXPECT_FALSE(deferred.opened);
    EXPECT_TRUE(deferred.md5.empty());
    EXPECT_EQ(budget, 1000u);
    EXPECT_EQ(fileDigestReads(), reads);

    budget = 0;  // next scan, nothing left to read: the known file still answers
    EXPECT_EQ(cachedFileHashesWithin(a, fileStamp(a), budget).md5, md5a);
    EXPECT_EQ(fileDigestReads(), reads);
    budget = 5000;
    EXPECT_EQ(cachedFileHashesWithin(b, fileStamp(b), budget).md5, md5b);

    test::writeFile(a, std::string(1000, 'z'));  // same size, new content and write time
    FileStamp changed = fileStamp(a);
    changed.writeTime += 1;  // coarse file-system clocks must not hide the rewrite
    EXPECT_EQ(cachedFileHashesWithin(a, changed, budget).md5, fileMD5(a));
    EXPECT_EQ(fileDigestReads(), reads + 2);
    test::removePath(a);
    test::removePath(b);
}

TEST(HmacMd5, MatchesRfc2202Vectors) {
    EXPECT_EQ(hmacHex("Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(hmacHex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(hmacHex(std::string(80, '\xaa'),
                      "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
              "6f630fad67cda0ee1fb1f562db3aa53e");
}

TEST(ChallengeAnswer, MatchesVectorsTheServerChecks) {
    // Computed apart from this code (a stock HMAC-MD5 with the shared
    // secret); the plug-in must give the same bytes.
    std::uint8_t counting[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof counting; ++i) counting[i] = static_cast<std::uint8_t>(i);
    const std::uint8_t zeros[AC_CHALLENGE_SIZE] = {};
    std::uint8_t answer[AC_ANSWER_SIZE];
    computeChallengeAnswer(counting, answer);
    EXPECT_EQ(toHex(answer, sizeof answer), "aea85709ba9d60719f65a8f16520a8e0191602a7ea8c635c43ea559f16da69ed");
    computeChallengeAnswer(zeros, answer);
    EXPECT_EQ(toHex(answer, sizeof answer), "70390ba8f1107d46dbff3d0de1012e99d5cbcb8c46b7b1357b7d37f19cdb6a21");
}

// The challenge is the payload's first 32 bytes, zero-filled when shorter
// (never bytes left from an earlier packet); no packet or one larger than
// the buffer is none, and leaves zeros.
TEST(ChallengeFromPayload, FirstBytesZeroFilledAndNoneWithoutAFittingPacket) {
    std::vector<std::uint8_t> buffer = patternBytes(1024, 5);
    std::vector<std::uint8_t> five(buffer.begin(), buffer.begin() + 5);
    five.resize(AC_CHALLENGE_SIZE, 0);
    const std::vector<std::uint8_t> first(buffer.begin(), buffer.begin() + AC_CHALLENGE_SIZE);
    const std::vector<std::uint8_t> zeros(AC_CHALLENGE_SIZE, 0);
    const struct {
        std::int32_t length;
        bool ok;
        const std::vector<std::uint8_t>& challenge;
    } cases[] = {{5, true, five},   {0, true, zeros},     {32, true, first},    {33, true, first},
                 {1024, true, first}, {-1, false, zeros}, {1025, false, zeros}, {65535, false, zeros}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::uint8_t challenge[AC_CHALLENGE_SIZE];
        std::memset(challenge, 0x55, sizeof challenge);
        EXPECT_EQ(challengeFromPayload(buffer.data(), c.length, 1024, challenge), c.ok);
        EXPECT_EQ(hex(challenge, sizeof challenge), hex(c.challenge.data(), AC_CHALLENGE_SIZE));
    }
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    EXPECT_FALSE(challengeFromPayload(nullptr, 5, 1024, challenge));
}

}  // namespace
}  // namespace marvik
