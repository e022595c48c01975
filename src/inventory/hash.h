// CRC-32 and MD5 of buffers and files: the module identities sent to the
// server and the base of the challenge answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace marvik {

// CRC-32 as zlib, PNG and Ethernet define it (reflected, polynomial
// 0xEDB88320, register starting at all ones, result complemented).
// Incremental in zlib's manner: start with 0 and pass each result back in;
// crc32Update(crc32Update(0, a), b) equals the CRC of a followed by b.
std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t length);
std::uint32_t crc32Compute(const void* data, std::size_t length);
// The same result by tables alone: what crc32Update falls back to on
// processors without carry-less multiplication. For tests and benchmarks.
std::uint32_t crc32UpdatePortable(std::uint32_t crc, const void* data, std::size_t length);

// MD5 (RFC 1321). Init, any number of updates, one final; the context can
// be initialised again afterwards.
constexpr std::size_t MD5_DIGEST_SIZE = 16;
struct MD5Context {
    std::uint32_t state[4];
    std::uint64_t length;     // bytes taken in so far
    std::uint8_t buffer[64];  // the last partial block
};
void md5Init(MD5Context& ctx);
void md5Update(MD5Context& ctx, const void* data, std::size_t length);
void md5Final(MD5Context& ctx, std::uint8_t digest[MD5_DIGEST_SIZE]);
void md5Compute(const void* data, std::size_t length, std::uint8_t digest[MD5_DIGEST_SIZE]);

// Two lowercase hexadecimal characters per byte, in order.
std::string toHex(const std::uint8_t* bytes, std::size_t length);

// File hashes over the whole content, read in 8192-byte blocks until a read
// returns nothing (a read error part-way ends the input there).
// fileCRC32: 0 when the file cannot be opened (also the CRC of an empty file).
std::uint32_t fileCRC32(const std::string& path);
// fileMD5: 32 lowercase hexadecimal characters, empty when not openable.
std::string fileMD5(const std::string& path);

// Both in one read of the file; crc32 and md5 equal what fileCRC32 and
// fileMD5 give (0 and empty when opened is false).
struct FileHashes {
    bool opened = false;
    std::uint32_t crc32 = 0;
    std::string md5;
};
FileHashes fileHashes(const std::string& path);

}  // namespace marvik
