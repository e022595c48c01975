#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
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

// mt19937's sequence is fixed by the standard: the same bytes everywhere.
Bytes patternBytes(std::size_t length, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(length);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// The check value anchors the bitwise reference; the fast paths must equal it
// around their 16- and 64-byte steps, at every misalignment, and on long buffers.
TEST(Crc32, BothPathsEqualBitwiseDefinitionAtEveryLengthAndAlignment) {
    EXPECT_EQ(crc32Bitwise(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
    const Bytes data = patternBytes(70000, 3);
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

// Files as the checks read them: binary (a text-mode read would turn CR LF
// into LF and stop at Ctrl-Z), empty, missing, and a million bytes, many
// read blocks; and the million in pieces of awkward sizes, the CRC carried
// from one piece to the next. Values from Python's zlib and hashlib.
TEST(FileHashes, BinaryEmptyMissingAndLongFilesAndPieces) {
    const std::string path = test::besideExe("hash_test_file.bin"), million(1000000, 'a');
    const struct {
        std::string content;
        bool exists;
        std::uint32_t crc;
        const char* md5;
    } cases[] = {
        {std::string("line\r\nnext\x1a\0tail\r\n", 18), true, 0x4896C873, "1b1574d4fca68980d287eb4202c57e45"},
        {"", true, 0, "d41d8cd98f00b204e9800998ecf8427e"},
        {"", false, 0, ""},
        {million, true, 0xDC25BFBC, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.size());
        test::removePath(path);
        if (c.exists) test::writeFile(path, c.content);
        EXPECT_EQ(fileCRC32(path), c.crc);
        EXPECT_EQ(fileMD5(path), c.md5);
        const FileHashes both = fileHashes(path);
        EXPECT_EQ(std::make_tuple(both.opened, both.crc32, both.md5), std::make_tuple(c.exists, c.crc, c.md5));
    }
    test::removePath(path);
    MD5Context ctx;
    md5Init(ctx);
    std::uint32_t crc = 0;
    for (std::size_t done = 0, n = 1; done < million.size(); done += n, n = n * 7 % 9001 + 1) {
        n = std::min(n, million.size() - done);
        md5Update(ctx, million.data() + done, n);
        crc = crc32Update(crc, million.data() + done, n);
    }
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5Final(ctx, digest);
    EXPECT_EQ(toHex(digest, sizeof digest), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(crc, 0xDC25BFBCu);
}

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
    const std::uint64_t reads = fileDigestReads();
    EXPECT_FALSE(cachedFileHashesWithin(b, fileStamp(b), budget).opened);
    EXPECT_EQ(budget, 1000u);  // a charged, b not
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

// RFC 2202's key longer than a block, which is hashed first. (The shared
// secret's short key: the challenge answer's vector.)
TEST(HmacMd5, KeyLongerThanABlockIsHashedFirst) {
    const std::string key(80, '\xaa'), data = "Test Using Larger Than Block-Size Key - Hash Key First";
    std::uint8_t mac[16];
    hmacMd5(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(),
            reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), mac);
    EXPECT_EQ(toHex(mac, sizeof mac), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

// Computed apart from this code (a stock HMAC-MD5 with the shared secret);
// the plug-in must give the same bytes.
TEST(ChallengeAnswer, MatchesVectorsTheServerChecks) {
    std::uint8_t counting[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < sizeof counting; ++i) counting[i] = static_cast<std::uint8_t>(i);
    std::uint8_t answer[AC_ANSWER_SIZE];
    computeChallengeAnswer(counting, answer);
    EXPECT_EQ(toHex(answer, sizeof answer), "aea85709ba9d60719f65a8f16520a8e0191602a7ea8c635c43ea559f16da69ed");
}

// The challenge is the payload's first 32 bytes, zero-filled when shorter
// (never bytes left from an earlier packet); no packet or one larger than
// the buffer is none, and leaves zeros.
TEST(ChallengeFromPayload, FirstBytesZeroFilledAndNoneWithoutAFittingPacket) {
    const Bytes buffer = patternBytes(1024, 5);
    const struct {
        std::int32_t length;
        bool ok;
        std::size_t taken;
    } cases[] = {{5, true, 5}, {0, true, 0}, {33, true, 32}, {1024, true, 32}, {-1, false, 0}, {1025, false, 0}};
    for (const auto& c : cases) {
        // One byte past the challenge shows a copy that overruns it.
        Bytes challenge(AC_CHALLENGE_SIZE + 1, 0x55), expected(buffer.begin(), buffer.begin() + c.taken);
        expected.resize(AC_CHALLENGE_SIZE, 0);
        expected.push_back(0x55);
        EXPECT_EQ(challengeFromPayload(buffer.data(), c.length, 1024, challenge.data()), c.ok) << c.length;
        EXPECT_EQ(challenge, expected) << c.length;
    }
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    EXPECT_FALSE(challengeFromPayload(nullptr, 5, 1024, challenge));
}

}  // namespace
}  // namespace marvik
