#include "inventory/hash.h"

#include <cstdio>
#include <cstring>

#include "base/little_endian.h"
#include "base/utf8.h"

// x86 processors since 2010 multiply carry-less (PCLMULQDQ), which folds
// CRC-32 several times faster than any table method. The code for it is
// compiled for every x86 build and chosen at run time by CPUID; other
// processors, and x86 ones without the instruction, use the tables.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define MARVIK_CRC32_CLMUL 1
#include <emmintrin.h>
#include <wmmintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define MARVIK_TARGET_CLMUL
#else
#include <cpuid.h>
// GCC and Clang emit the instruction only in functions marked for it, so
// the rest of the program still runs on any x86. On 32-bit x86 the function
// also realigns its stack: it spills vector registers, and Windows gives a
// thread only 4-byte alignment where GCC assumes 16.
#if defined(__i386__)
#define MARVIK_TARGET_CLMUL __attribute__((target("sse2,pclmul"), force_align_arg_pointer))
#else
#define MARVIK_TARGET_CLMUL __attribute__((target("sse2,pclmul")))
#endif
#endif
#else
#define MARVIK_CRC32_CLMUL 0
#endif

namespace marvik {

namespace {

// The size of one read; the heartbeat rereads every module file each cycle
// and this keeps the buffer on the stack and in the first-level cache.
constexpr std::size_t FILE_BLOCK_SIZE = 8192;

// ---- CRC-32 -------------------------------------------------------------

// Slicing-by-16: table k gives the CRC of a byte followed by k zero bytes,
// so 16 input bytes fold in with 16 independent lookups.
struct Crc32Tables {
    std::uint32_t t[16][256];
};

constexpr Crc32Tables makeCrc32Tables() {
    Crc32Tables r{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        r.t[0][i] = c;
    }
    for (int s = 1; s < 16; ++s)
        for (std::uint32_t i = 0; i < 256; ++i) r.t[s][i] = (r.t[s - 1][i] >> 8) ^ r.t[0][r.t[s - 1][i] & 0xFF];
    return r;
}

constexpr Crc32Tables CRC32_TABLES = makeCrc32Tables();

// Register in, register out (no pre- or post-inversion).
std::uint32_t crc32Tables(std::uint32_t c, const std::uint8_t* p, std::size_t length) {
    const auto& t = CRC32_TABLES.t;
    while (length >= 16) {
        std::uint32_t w0 = loadLe32(p) ^ c;
        std::uint32_t w1 = loadLe32(p + 4);
        std::uint32_t w2 = loadLe32(p + 8);
        std::uint32_t w3 = loadLe32(p + 12);
        c = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
            t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
            t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
            t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
        p += 16;
        length -= 16;
    }
    while (length-- > 0) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return c;
}

#if MARVIK_CRC32_CLMUL

bool cpuHasClmul() {
    unsigned int ecx = 0;
    unsigned int edx = 0;
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4];
    __cpuid(regs, 1);
    ecx = static_cast<unsigned int>(regs[2]);
    edx = static_cast<unsigned int>(regs[3]);
#else
    unsigned int eax = 0;
    unsigned int ebx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
#endif
    const bool sse2 = (edx & (1u << 26)) != 0;
    const bool pclmul = (ecx & (1u << 1)) != 0;
    return sse2 && pclmul;
}

bool clmulAvailable() {
    static const bool available = cpuHasClmul();
    return available;
}

// Folding with carry-less multiplication (Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ", reflected form): four 128-bit lanes
// folded 64 bytes at a time, merged into one, then reduced to 32 bits with
// Barrett's method. Register in, register out; length at least 64 and a
// multiple of 16. The constants are x^n mod P for the fold distances, and
// P and floor(x^64 / P) for the reduction, all bit-reflected.
MARVIK_TARGET_CLMUL std::uint32_t crc32Clmul(std::uint32_t crc, const std::uint8_t* p, std::size_t length) {
    const __m128i k1k2 = _mm_set_epi32(0x00000001, static_cast<int>(0xc6e41596u), 0x00000001,
                                       static_cast<int>(0x54442bd4u));
    const __m128i k3k4 = _mm_set_epi32(0x00000000, static_cast<int>(0xccaa009eu), 0x00000001,
                                       static_cast<int>(0x751997d0u));
    const __m128i k5 = _mm_set_epi32(0, 0, 0x00000001, static_cast<int>(0x63cd6124u));
    const __m128i poly = _mm_set_epi32(0x00000001, static_cast<int>(0xf7011641u), 0x00000001,
                                       static_cast<int>(0xdb710641u));
    const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    p += 64;
    length -= 64;

    while (length >= 64) {
        __m128i h1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
        __m128i h2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
        __m128i h3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
        __m128i h4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
        x1 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
        x2 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
        x3 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
        x4 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, h1), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, h2), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, h3), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, h4), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
        p += 64;
        length -= 64;
    }

    // Four lanes into one, then the remaining 16-byte blocks.
    __m128i h = _mm_clmulepi64_si128(x1, k3k4, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x00), h), x2);
    h = _mm_clmulepi64_si128(x1, k3k4, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x00), h), x3);
    h = _mm_clmulepi64_si128(x1, k3k4, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x00), h), x4);
    while (length >= 16) {
        h = _mm_clmulepi64_si128(x1, k3k4, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x00), h),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        p += 16;
        length -= 16;
    }

    // 128 bits to 64, then to 32.
    __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
    t = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), t);

    t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

#else

bool clmulAvailable() { return false; }
std::uint32_t crc32Clmul(std::uint32_t crc, const std::uint8_t*, std::size_t) { return crc; }

#endif

// Below this the setup and the final reduction cost more than the tables.
constexpr std::size_t CRC32_CLMUL_MIN_LENGTH = 64;

// ---- MD5 ----------------------------------------------------------------

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The round functions in the forms that need the fewest operations:
// F as a select, G with its two disjoint terms added rather than or-ed, so
// the term that does not wait on b can be summed early.
inline void stepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t m,
                  std::uint32_t k, int s) {
    a += (d ^ (b & (c ^ d))) + m + k;
    a = rotl(a, s) + b;
}
inline void stepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t m,
                  std::uint32_t k, int s) {
    a += (c & ~d) + m + k;
    a += b & d;
    a = rotl(a, s) + b;
}
inline void stepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t m,
                  std::uint32_t k, int s) {
    a += (b ^ c ^ d) + m + k;
    a = rotl(a, s) + b;
}
inline void stepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t m,
                  std::uint32_t k, int s) {
    a += (c ^ (b | ~d)) + m + k;
    a = rotl(a, s) + b;
}

void md5Blocks(std::uint32_t state[4], const std::uint8_t* p, std::size_t blocks) {
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (; blocks > 0; --blocks, p += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) m[i] = loadLe32(p + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        stepF(a, b, c, d, m[0], 0xd76aa478, 7);
        stepF(d, a, b, c, m[1], 0xe8c7b756, 12);
        stepF(c, d, a, b, m[2], 0x242070db, 17);
        stepF(b, c, d, a, m[3], 0xc1bdceee, 22);
        stepF(a, b, c, d, m[4], 0xf57c0faf, 7);
        stepF(d, a, b, c, m[5], 0x4787c62a, 12);
        stepF(c, d, a, b, m[6], 0xa8304613, 17);
        stepF(b, c, d, a, m[7], 0xfd469501, 22);
        stepF(a, b, c, d, m[8], 0x698098d8, 7);
        stepF(d, a, b, c, m[9], 0x8b44f7af, 12);
        stepF(c, d, a, b, m[10], 0xffff5bb1, 17);
        stepF(b, c, d, a, m[11], 0x895cd7be, 22);
        stepF(a, b, c, d, m[12], 0x6b901122, 7);
        stepF(d, a, b, c, m[13], 0xfd987193, 12);
        stepF(c, d, a, b, m[14], 0xa679438e, 17);
        stepF(b, c, d, a, m[15], 0x49b40821, 22);

        stepG(a, b, c, d, m[1], 0xf61e2562, 5);
        stepG(d, a, b, c, m[6], 0xc040b340, 9);
        stepG(c, d, a, b, m[11], 0x265e5a51, 14);
        stepG(b, c, d, a, m[0], 0xe9b6c7aa, 20);
        stepG(a, b, c, d, m[5], 0xd62f105d, 5);
        stepG(d, a, b, c, m[10], 0x02441453, 9);
        stepG(c, d, a, b, m[15], 0xd8a1e681, 14);
        stepG(b, c, d, a, m[4], 0xe7d3fbc8, 20);
        stepG(a, b, c, d, m[9], 0x21e1cde6, 5);
        stepG(d, a, b, c, m[14], 0xc33707d6, 9);
        stepG(c, d, a, b, m[3], 0xf4d50d87, 14);
        stepG(b, c, d, a, m[8], 0x455a14ed, 20);
        stepG(a, b, c, d, m[13], 0xa9e3e905, 5);
        stepG(d, a, b, c, m[2], 0xfcefa3f8, 9);
        stepG(c, d, a, b, m[7], 0x676f02d9, 14);
        stepG(b, c, d, a, m[12], 0x8d2a4c8a, 20);

        stepH(a, b, c, d, m[5], 0xfffa3942, 4);
        stepH(d, a, b, c, m[8], 0x8771f681, 11);
        stepH(c, d, a, b, m[11], 0x6d9d6122, 16);
        stepH(b, c, d, a, m[14], 0xfde5380c, 23);
        stepH(a, b, c, d, m[1], 0xa4beea44, 4);
        stepH(d, a, b, c, m[4], 0x4bdecfa9, 11);
        stepH(c, d, a, b, m[7], 0xf6bb4b60, 16);
        stepH(b, c, d, a, m[10], 0xbebfbc70, 23);
        stepH(a, b, c, d, m[13], 0x289b7ec6, 4);
        stepH(d, a, b, c, m[0], 0xeaa127fa, 11);
        stepH(c, d, a, b, m[3], 0xd4ef3085, 16);
        stepH(b, c, d, a, m[6], 0x04881d05, 23);
        stepH(a, b, c, d, m[9], 0xd9d4d039, 4);
        stepH(d, a, b, c, m[12], 0xe6db99e5, 11);
        stepH(c, d, a, b, m[15], 0x1fa27cf8, 16);
        stepH(b, c, d, a, m[2], 0xc4ac5665, 23);

        stepI(a, b, c, d, m[0], 0xf4292244, 6);
        stepI(d, a, b, c, m[7], 0x432aff97, 10);
        stepI(c, d, a, b, m[14], 0xab9423a7, 15);
        stepI(b, c, d, a, m[5], 0xfc93a039, 21);
        stepI(a, b, c, d, m[12], 0x655b59c3, 6);
        stepI(d, a, b, c, m[3], 0x8f0ccc92, 10);
        stepI(c, d, a, b, m[10], 0xffeff47d, 15);
        stepI(b, c, d, a, m[1], 0x85845dd1, 21);
        stepI(a, b, c, d, m[8], 0x6fa87e4f, 6);
        stepI(d, a, b, c, m[15], 0xfe2ce6e0, 10);
        stepI(c, d, a, b, m[6], 0xa3014314, 15);
        stepI(b, c, d, a, m[13], 0x4e0811a1, 21);
        stepI(a, b, c, d, m[4], 0xf7537e82, 6);
        stepI(d, a, b, c, m[11], 0xbd3af235, 10);
        stepI(c, d, a, b, m[2], 0x2ad7d2bb, 15);
        stepI(b, c, d, a, m[9], 0xeb86d391, 21);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

}  // namespace

std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t length) {
    if (data == nullptr || length == 0) return crc;
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t c = ~crc;
    if (length >= CRC32_CLMUL_MIN_LENGTH && clmulAvailable()) {
        std::size_t bulk = length & ~static_cast<std::size_t>(15);
        c = crc32Clmul(c, p, bulk);
        p += bulk;
        length -= bulk;
    }
    return ~crc32Tables(c, p, length);
}

std::uint32_t crc32Compute(const void* data, std::size_t length) { return crc32Update(0, data, length); }

std::uint32_t crc32UpdatePortable(std::uint32_t crc, const void* data, std::size_t length) {
    if (data == nullptr || length == 0) return crc;
    return ~crc32Tables(~crc, static_cast<const std::uint8_t*>(data), length);
}

void md5Init(MD5Context& ctx) {
    ctx.state[0] = 0x67452301;
    ctx.state[1] = 0xefcdab89;
    ctx.state[2] = 0x98badcfe;
    ctx.state[3] = 0x10325476;
    ctx.length = 0;
    std::memset(ctx.buffer, 0, sizeof ctx.buffer);
}

void md5Update(MD5Context& ctx, const void* data, std::size_t length) {
    if (data == nullptr || length == 0) return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t used = static_cast<std::size_t>(ctx.length & 63);
    ctx.length += length;
    if (used != 0) {
        std::size_t take = 64 - used;
        if (length < take) {
            std::memcpy(ctx.buffer + used, p, length);
            return;
        }
        std::memcpy(ctx.buffer + used, p, take);
        md5Blocks(ctx.state, ctx.buffer, 1);
        p += take;
        length -= take;
    }
    // Whole blocks straight from the caller's memory, no copy.
    std::size_t blocks = length / 64;
    if (blocks > 0) {
        md5Blocks(ctx.state, p, blocks);
        p += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0) std::memcpy(ctx.buffer, p, length);
}

void md5Final(MD5Context& ctx, std::uint8_t digest[MD5_DIGEST_SIZE]) {
    const std::uint64_t bits = ctx.length * 8;
    std::size_t used = static_cast<std::size_t>(ctx.length & 63);
    ctx.buffer[used++] = 0x80;
    if (used > 56) {
        std::memset(ctx.buffer + used, 0, 64 - used);
        md5Blocks(ctx.state, ctx.buffer, 1);
        used = 0;
    }
    std::memset(ctx.buffer + used, 0, 56 - used);
    storeLe32(ctx.buffer + 56, static_cast<std::uint32_t>(bits));
    storeLe32(ctx.buffer + 60, static_cast<std::uint32_t>(bits >> 32));
    md5Blocks(ctx.state, ctx.buffer, 1);
    for (int i = 0; i < 4; ++i) storeLe32(digest + 4 * i, ctx.state[i]);
}

void md5Compute(const void* data, std::size_t length, std::uint8_t digest[MD5_DIGEST_SIZE]) {
    MD5Context ctx;
    md5Init(ctx);
    md5Update(ctx, data, length);
    md5Final(ctx, digest);
}

std::string toHex(const std::uint8_t* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out(length * 2, '0');
    for (std::size_t i = 0; i < length; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return out;
}

namespace {

// One pass over the file, each block fed to whichever hashes are wanted.
// False when the file cannot be opened.
bool hashFile(const std::string& path, std::uint32_t* crc, MD5Context* md5) {
    std::FILE* f = openFile(path, "rb");
    if (f == nullptr) return false;
    std::uint8_t block[FILE_BLOCK_SIZE];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) {
        if (crc != nullptr) *crc = crc32Update(*crc, block, got);
        if (md5 != nullptr) md5Update(*md5, block, got);
    }
    std::fclose(f);
    return true;
}

}  // namespace

std::uint32_t fileCRC32(const std::string& path) {
    std::uint32_t crc = 0;
    return hashFile(path, &crc, nullptr) ? crc : 0;
}

std::string fileMD5(const std::string& path) {
    MD5Context ctx;
    md5Init(ctx);
    if (!hashFile(path, nullptr, &ctx)) return std::string();
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5Final(ctx, digest);
    return toHex(digest, sizeof digest);
}

FileHashes fileHashes(const std::string& path) {
    FileHashes result;
    std::uint32_t crc = 0;
    MD5Context ctx;
    md5Init(ctx);
    if (!hashFile(path, &crc, &ctx)) return result;
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5Final(ctx, digest);
    result.opened = true;
    result.crc32 = crc;
    result.md5 = toHex(digest, sizeof digest);
    return result;
}

}  // namespace marvik
