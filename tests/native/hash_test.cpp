#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

TEST(Md5, PaddingBoundariesAndLongInput) {
    // Lengths where the length field just fits, just does not, or a block
    // ends exactly: the cases the padding code branches on.
    const struct {
        std::size_t n;
        const char* digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
        {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"}, {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& c : cases) EXPECT_EQ(md5Hex(std::string(c.n, 'a')), c.digest) << c.n << " x 'a'";
}

TEST(Md5, IncrementalEqualsOneShotAtAnySplit) {
    const std::vector<std::uint8_t> data = patternBytes(300, 7);
    for (std::size_t length : {0u, 1u, 63u, 64u, 65u, 129u, 300u}) {
        const std::string whole = md5Hex(data.data(), length);
        for (std::size_t a = 0; a <= length; a += 7) {
            for (std::size_t b = a; b <= length; b += 13) {
                MD5Context ctx;
                md5Init(ctx);
                md5Update(ctx, data.data(), a);
                md5Update(ctx, data.data() + a, b - a);
                md5Update(ctx, data.data() + b, length - b);
                std::uint8_t digest[MD5_DIGEST_SIZE];
                md5Final(ctx, digest);
                ASSERT_EQ(hex(digest, sizeof digest), whole) << length << " split at " << a << "," << b;
            }
        }
    }
    // Byte by byte, and a context used again after init.
    MD5Context ctx;
    md5Init(ctx);
    md5Update(ctx, "junk", 4);
    md5Init(ctx);
    for (std::uint8_t byte : data) md5Update(ctx, &byte, 1);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5Final(ctx, digest);
    EXPECT_EQ(hex(digest, sizeof digest), md5Hex(data.data(), data.size()));
}

TEST(Crc32, CheckValueAndEmptyInput) {
    EXPECT_EQ(crc32Compute("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32UpdatePortable(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32Compute("", 0), 0u);
    EXPECT_EQ(crc32Compute(nullptr, 0), 0u);
    EXPECT_EQ(crc32Compute("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
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

TEST(Crc32, IncrementalEqualsOneShotAtAnySplit) {
    const std::vector<std::uint8_t> data = patternBytes(1000, 11);
    const std::uint32_t whole = crc32Compute(data.data(), data.size());
    for (std::size_t a = 0; a <= data.size(); a += 37) {
        for (std::size_t b = a; b <= data.size(); b += 61) {
            std::uint32_t c = crc32Update(0, data.data(), a);
            c = crc32Update(c, data.data() + a, b - a);
            c = crc32Update(c, data.data() + b, data.size() - b);
            ASSERT_EQ(c, whole) << "split at " << a << "," << b;
            std::uint32_t portable = crc32UpdatePortable(0, data.data(), a);
            portable = crc32UpdatePortable(portable, data.data() + a, data.size() - a);
            ASSERT_EQ(portable, whole) << "split at " << a;
        }
    }
}

TEST(Hex, LowercaseTwoDigitsPerByte) {
    const std::uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff, 0x5c};
    EXPECT_EQ(toHex(bytes, sizeof bytes), "000fa0ff5c");
    EXPECT_EQ(toHex(bytes, 0), "");
}

// A file of pattern bytes beside the test executable, removed afterwards.
struct TempFile {
    std::string path;
    std::string bytes;
    TempFile(const char* name, const std::string& content) : path(test::besideExe(name)), bytes(content) {
        test::writeFile(path, bytes);
    }
    ~TempFile() { test::removePath(path); }
};

std::string patternString(std::size_t length, std::uint32_t seed) {
    std::vector<std::uint8_t> v = patternBytes(length, seed);
    return std::string(v.begin(), v.end());
}

void expectFileHashesOf(const TempFile& f) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(f.bytes.data());
    const std::uint32_t crc = crc32Bitwise(p, f.bytes.size());
    const std::string md5 = md5Hex(f.bytes);
    EXPECT_EQ(fileCRC32(f.path), crc);
    EXPECT_EQ(fileMD5(f.path), md5);
    FileHashes both = fileHashes(f.path);
    EXPECT_TRUE(both.opened);
    EXPECT_EQ(both.crc32, crc);
    EXPECT_EQ(both.md5, md5);
}

TEST(FileHashes, SizesAroundTheReadBlock) {
    const std::size_t sizes[] = {1, 8191, 8192, 8193, 3 * 8192 + 5, 100000};
    std::uint32_t seed = 20;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        TempFile f("hash_test_block.bin", patternString(size, seed++));
        ASSERT_EQ(test::readFile(f.path).size(), size);
        expectFileHashesOf(f);
    }
}

TEST(FileHashes, EmptyFileGivesZeroCrcAndMd5OfNothing) {
    TempFile f("hash_test_empty.bin", "");
    EXPECT_EQ(fileCRC32(f.path), 0u);
    EXPECT_EQ(fileMD5(f.path), "d41d8cd98f00b204e9800998ecf8427e");
    FileHashes both = fileHashes(f.path);
    EXPECT_TRUE(both.opened);
    EXPECT_EQ(both.crc32, 0u);
    EXPECT_EQ(both.md5, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(FileHashes, ReadsBinaryContentUnchanged) {
    // A text-mode read would turn CR LF into LF and stop at Ctrl-Z.
    TempFile f("hash_test_binary.bin", std::string("line\r\nnext\x1a\0tail\r\n", 18));
    expectFileHashesOf(f);
    EXPECT_NE(fileCRC32(f.path), crc32Compute("line\nnext", 9));
}

TEST(FileHashes, MissingFileGivesZeroAndEmpty) {
    const std::string path = test::besideExe("hash_test_no_such_file.bin");
    test::removePath(path);
    EXPECT_EQ(fileCRC32(path), 0u);
    EXPECT_EQ(fileMD5(path), "");
    FileHashes both = fileHashes(path);
    EXPECT_FALSE(both.opened);
    EXPECT_EQ(both.crc32, 0u);
    EXPECT_EQ(both.md5, "");
}

std::string hmacHex(const std::string& key, const std::string& message) {
    std::uint8_t mac[16];
    hmacMd5(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(),
            reinterpret_cast<const std::uint8_t*>(message.data()), message.size(), mac);
    return toHex(mac, sizeof mac);
}

TEST(HmacMd5, MatchesRfc2202Vectors) {
    std::string key25;
    for (int i = 1; i <= 25; ++i) key25 += static_cast<char>(i);
    EXPECT_EQ(hmacHex(std::string(16, '\x0b'), "Hi There"), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(hmacHex("Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(hmacHex(std::string(16, '\xaa'), std::string(50, '\xdd')), "56be34521d144c88dbb8c733f0e8b3f6");
    EXPECT_EQ(hmacHex(key25, std::string(50, '\xcd')), "697eaf0aca3a3aea3a75164746ffaa79");
    EXPECT_EQ(hmacHex(std::string(16, '\x0c'), "Test With Truncation"), "56461ef2342edc00f9bab995690efd4c");
    EXPECT_EQ(hmacHex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(hmacHex(std::string(80, '\xaa'),
                      "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
              "6f630fad67cda0ee1fb1f562db3aa53e");
}

std::string answerHex(const std::uint8_t challenge[AC_CHALLENGE_SIZE]) {
    std::uint8_t answer[AC_ANSWER_SIZE];
    computeChallengeAnswer(challenge, answer);
    return toHex(answer, sizeof answer);
}

TEST(ChallengeAnswer, MatchesVectorsTheServerChecks) {
    // Computed apart from this code (a stock HMAC-MD5 with the shared
    // secret); the plug-in must give the same bytes.
    std::uint8_t counting[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof counting; ++i) counting[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(answerHex(counting), "aea85709ba9d60719f65a8f16520a8e0191602a7ea8c635c43ea559f16da69ed");
    std::uint8_t zeros[AC_CHALLENGE_SIZE] = {};
    EXPECT_EQ(answerHex(zeros), "70390ba8f1107d46dbff3d0de1012e99d5cbcb8c46b7b1357b7d37f19cdb6a21");
}

TEST(ChallengeAnswer, DeterministicWithIndependentHalvesAndEveryByteCounts) {
    const std::vector<std::uint8_t> base = patternBytes(AC_CHALLENGE_SIZE, 99);
    std::uint8_t first[AC_ANSWER_SIZE];
    std::uint8_t again[AC_ANSWER_SIZE];
    computeChallengeAnswer(base.data(), first);
    computeChallengeAnswer(base.data(), again);
    EXPECT_EQ(std::memcmp(first, again, sizeof first), 0);
    EXPECT_NE(std::memcmp(first, first + 16, 16), 0);

    // Not a bare digest of the challenge: the key is in it.
    std::uint8_t plain[MD5_DIGEST_SIZE];
    md5Compute(base.data(), base.size(), plain);
    EXPECT_NE(std::memcmp(first, plain, sizeof plain), 0);
    EXPECT_NE(std::memcmp(first + 16, plain, sizeof plain), 0);

    for (std::size_t i = 0; i < AC_CHALLENGE_SIZE; ++i) {
        std::vector<std::uint8_t> changed = base;
        changed[i] ^= 0x01;
        std::uint8_t answer[AC_ANSWER_SIZE];
        computeChallengeAnswer(changed.data(), answer);
        EXPECT_NE(std::memcmp(answer, first, 16), 0) << "first half ignores byte " << i;
        EXPECT_NE(std::memcmp(answer + 16, first + 16, 16), 0) << "second half ignores byte " << i;
    }
}

TEST(ChallengeFromPayload, ShortPayloadIsZeroFilled) {
    std::uint8_t buffer[1024];
    std::memset(buffer, 0xAA, sizeof buffer);  // left over from an earlier packet
    std::memcpy(buffer, "\x01\x02\x03\x04\x05", 5);
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    ASSERT_TRUE(challengeFromPayload(buffer, 5, sizeof buffer, challenge));
    std::uint8_t expected[AC_CHALLENGE_SIZE] = {1, 2, 3, 4, 5};
    EXPECT_EQ(hex(challenge, sizeof challenge), hex(expected, sizeof expected));

    ASSERT_TRUE(challengeFromPayload(buffer, 0, sizeof buffer, challenge));
    std::uint8_t zeros[AC_CHALLENGE_SIZE] = {};
    EXPECT_EQ(hex(challenge, sizeof challenge), hex(zeros, sizeof zeros));
}

TEST(ChallengeFromPayload, TakesFirst32BytesOfLongerPayloads) {
    const std::vector<std::uint8_t> buffer = patternBytes(1024, 5);
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (std::int32_t length : {32, 33, 500, 1024}) {
        std::memset(challenge, 0, sizeof challenge);
        ASSERT_TRUE(challengeFromPayload(buffer.data(), length, 1024, challenge)) << length;
        EXPECT_EQ(hex(challenge, sizeof challenge), hex(buffer.data(), AC_CHALLENGE_SIZE)) << length;
    }
}

TEST(ChallengeFromPayload, NoPacketOrOversizedPayloadIsNoChallenge) {
    const std::vector<std::uint8_t> buffer = patternBytes(1024, 6);
    std::uint8_t zeros[AC_CHALLENGE_SIZE] = {};
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (std::int32_t length : {-1, 1025, 65535}) {
        std::memset(challenge, 0x55, sizeof challenge);
        EXPECT_FALSE(challengeFromPayload(buffer.data(), length, 1024, challenge)) << length;
        EXPECT_EQ(hex(challenge, sizeof challenge), hex(zeros, sizeof zeros)) << length;
    }
    EXPECT_FALSE(challengeFromPayload(nullptr, 5, 1024, challenge));
}

}  // namespace
}  // namespace marvik
