// Our CRC-32 and MD5 against zlib and OpenSSL on random data. Native only:
// the two libraries are test anchors and never part of the product.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "inventory/hash.h"
#include "support/files.h"

namespace marvik {
namespace {

TEST(HashDifferential, InOneGoInPiecesAndFromFilesMatchZlibAndOpenSsl) {
    std::mt19937 rng(0x5eed1321);
    std::vector<std::uint8_t> pool(3 * 1024 * 1024 + 16);
    for (auto& b : pool) b = static_cast<std::uint8_t>(rng());
    const std::string path = test::besideExe("hash_differential.bin");
    // Mostly short lengths, where the edge cases are, and some up to 3 MiB;
    // unaligned starts, and CRCs carried on from a value other than 0.
    const std::size_t longest[] = {130, 5000, 70000, 3 * 1024 * 1024};
    for (int round = 0; round < 200; ++round) {
        const std::size_t length = rng() % (longest[round % 4] + 1), offset = rng() % 16;
        const std::uint32_t start = round % 2 == 0 ? 0 : static_cast<std::uint32_t>(rng());
        const std::uint8_t* p = pool.data() + offset;
        SCOPED_TRACE("round " + std::to_string(round) + " length " + std::to_string(length) + " offset " +
                     std::to_string(offset));
        const std::uint32_t crc = static_cast<std::uint32_t>(::crc32(start, p, static_cast<uInt>(length)));
        std::uint8_t digest[EVP_MAX_MD_SIZE];
        ASSERT_EQ(EVP_Digest(p, length, digest, nullptr, EVP_md5(), nullptr), 1);
        const std::string md5 = toHex(digest, MD5_DIGEST_SIZE);
        ASSERT_EQ(crc32Update(start, p, length), crc);
        ASSERT_EQ(crc32UpdatePortable(start, p, length), crc);
        md5Compute(p, length, digest);
        ASSERT_EQ(toHex(digest, MD5_DIGEST_SIZE), md5);
        // The same in pieces of every size, short ones included.
        std::uint32_t pieces = start;
        MD5Context ctx;
        md5Init(ctx);
        for (std::size_t done = 0, n = 0; done < length; done += n) {
            n = std::min<std::size_t>(length - done, rng() % 3 == 0 ? rng() % 70 : rng() % 20000);
            pieces = crc32Update(pieces, p + done, n);
            md5Update(ctx, p + done, n);
        }
        md5Final(ctx, digest);
        ASSERT_EQ(pieces, crc);
        ASSERT_EQ(toHex(digest, MD5_DIGEST_SIZE), md5);
        // Files of several 8192-byte blocks and a partial one, through the loop all three file hashes share.
        if (round % 20 != 2) continue;
        test::writeFile(path, std::string(p, p + length));
        const FileHashes both = fileHashes(path);
        EXPECT_TRUE(both.opened && both.crc32 == crc && both.md5 == md5);
    }
    test::removePath(path);
}

}  // namespace
}  // namespace marvik
