// Our CRC-32 and MD5 against zlib and OpenSSL on random data. Native only:
// the two libraries are test anchors and never part of the product.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "inventory/hash.h"
#include "support/files.h"

namespace marvik {
namespace {

constexpr std::uint32_t SEED = 0x5eed1321;
constexpr std::size_t MAX_LENGTH = 3 * 1024 * 1024;

std::uint32_t zlibCrc(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    return static_cast<std::uint32_t>(::crc32(crc, p, static_cast<uInt>(n)));
}

std::string opensslMd5(const std::uint8_t* p, std::size_t n) {
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(p, n, digest, &size, EVP_md5(), nullptr), 1);
    return toHex(digest, size);
}

std::string ourMd5(const std::uint8_t* p, std::size_t n) {
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5Compute(p, n, digest);
    return toHex(digest, sizeof digest);
}

// Mostly short lengths, where the edge cases are, and some up to 3 MiB.
std::size_t randomLength(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: return rng() % 130;
        case 1: return rng() % 5000;
        case 2: return rng() % 70000;
        default: return rng() % (MAX_LENGTH + 1);
    }
}

std::vector<std::uint8_t> randomBytes(std::mt19937& rng, std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

TEST(HashDifferential, OneShotMatchesZlibAndOpenSsl) {
    std::mt19937 rng(SEED);
    const std::vector<std::uint8_t> pool = randomBytes(rng, MAX_LENGTH + 16);
    for (int round = 0; round < 200; ++round) {
        const std::size_t length = randomLength(rng);
        const std::size_t offset = rng() % 16;  // unaligned starts too
        const std::uint32_t start = (rng() % 2 == 0) ? 0 : static_cast<std::uint32_t>(rng());
        const std::uint8_t* p = pool.data() + offset;
        SCOPED_TRACE("seed " + std::to_string(SEED) + " round " + std::to_string(round) + " length " +
                     std::to_string(length) + " offset " + std::to_string(offset));
        const std::uint32_t expected = zlibCrc(start, p, length);
        ASSERT_EQ(crc32Update(start, p, length), expected);
        ASSERT_EQ(crc32UpdatePortable(start, p, length), expected);
        ASSERT_EQ(ourMd5(p, length), opensslMd5(p, length));
    }
}

TEST(HashDifferential, RandomChunkingMatchesZlibAndOpenSsl) {
    std::mt19937 rng(SEED + 1);
    for (int round = 0; round < 30; ++round) {
        const std::vector<std::uint8_t> data = randomBytes(rng, randomLength(rng));
        SCOPED_TRACE("round " + std::to_string(round) + " length " + std::to_string(data.size()));
        std::uint32_t crc = 0;
        MD5Context ctx;
        md5Init(ctx);
        std::size_t done = 0;
        while (done < data.size()) {
            std::size_t chunk = (rng() % 3 == 0) ? rng() % 70 : rng() % 20000;
            if (chunk > data.size() - done) chunk = data.size() - done;
            crc = crc32Update(crc, data.data() + done, chunk);
            md5Update(ctx, data.data() + done, chunk);
            done += chunk;
        }
        std::uint8_t digest[MD5_DIGEST_SIZE];
        md5Final(ctx, digest);
        ASSERT_EQ(crc, zlibCrc(0, data.data(), data.size()));
        ASSERT_EQ(toHex(digest, sizeof digest), opensslMd5(data.data(), data.size()));
    }
}

TEST(HashDifferential, FileRoutinesMatchZlibAndOpenSsl) {
    std::mt19937 rng(SEED + 2);
    const std::string path = test::besideExe("hash_differential.bin");
    for (std::size_t size : {std::size_t{8192 * 5 + 1}, std::size_t{2 * 1024 * 1024 + 777}}) {
        const std::vector<std::uint8_t> data = randomBytes(rng, size);
        test::writeFile(path, std::string(data.begin(), data.end()));
        const std::uint32_t crc = zlibCrc(0, data.data(), data.size());
        const std::string md5 = opensslMd5(data.data(), data.size());
        EXPECT_EQ(fileCRC32(path), crc) << size;
        EXPECT_EQ(fileMD5(path), md5) << size;
        FileHashes both = fileHashes(path);
        EXPECT_TRUE(both.opened);
        EXPECT_EQ(both.crc32, crc) << size;
        EXPECT_EQ(both.md5, md5) << size;
    }
    test::removePath(path);
}

}  // namespace
}  // namespace marvik
