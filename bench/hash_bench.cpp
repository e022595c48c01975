// Throughput of the hash routines against zlib and OpenSSL in one run, on
// the same 1 MiB buffer. The product must keep CRC-32 at or above zlib and
// MD5 at 0.9x OpenSSL or better.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "inventory/hash.h"

namespace {

constexpr std::size_t BUFFER_SIZE = 1 << 20;

const std::vector<std::uint8_t>& buffer() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> v(BUFFER_SIZE);
        std::mt19937 rng(1);
        for (auto& b : v) b = static_cast<std::uint8_t>(rng());
        return v;
    }();
    return data;
}

void setBytes(benchmark::State& state, std::size_t perIteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(perIteration));
}

void BM_Crc32_Ours(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(marvik::crc32Compute(data.data(), data.size()));
    setBytes(state, data.size());
}

void BM_Crc32_OursPortable(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(marvik::crc32UpdatePortable(0, data.data(), data.size()));
    setBytes(state, data.size());
}

void BM_Crc32_Zlib(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(::crc32(0, data.data(), static_cast<uInt>(data.size())));
    setBytes(state, data.size());
}

void BM_Md5_Ours(benchmark::State& state) {
    const auto& data = buffer();
    std::uint8_t digest[marvik::MD5_DIGEST_SIZE];
    for (auto _ : state) {
        marvik::md5Compute(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    setBytes(state, data.size());
}

void BM_Md5_OpenSsl(benchmark::State& state) {
    const auto& data = buffer();
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md5 = EVP_md5();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md5, nullptr);
        EVP_DigestUpdate(ctx, data.data(), data.size());
        EVP_DigestFinal_ex(ctx, digest, &size);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    setBytes(state, data.size());
}

// A module-sized file read through the C runtime, as the module scan does;
// the page cache holds it after the first pass.
struct BenchFile {
    std::string path;
    std::size_t size = 0;
    BenchFile() {
        char name[64];
        std::snprintf(name, sizeof name, "/tmp/marvik_bench_%u.bin", static_cast<unsigned>(std::random_device{}()));
        path = name;
        const auto& data = buffer();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f != nullptr) {
            for (int i = 0; i < 4; ++i) size += std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
        }
    }
    ~BenchFile() { std::remove(path.c_str()); }
};

const BenchFile& benchFile() {
    static const BenchFile file;
    return file;
}

void BM_File_SinglePass(benchmark::State& state) {
    const BenchFile& file = benchFile();
    for (auto _ : state) {
        marvik::FileHashes h = marvik::fileHashes(file.path);
        if (!h.opened) state.SkipWithError("bench file not readable");
        benchmark::DoNotOptimize(h);
    }
    setBytes(state, file.size);
}

void BM_File_TwoPasses(benchmark::State& state) {
    const BenchFile& file = benchFile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(marvik::fileCRC32(file.path));
        benchmark::DoNotOptimize(marvik::fileMD5(file.path));
    }
    setBytes(state, file.size);
}

}  // namespace

BENCHMARK(BM_Crc32_Ours);
BENCHMARK(BM_Crc32_OursPortable);
BENCHMARK(BM_Crc32_Zlib);
BENCHMARK(BM_Md5_Ours);
BENCHMARK(BM_Md5_OpenSsl);
BENCHMARK(BM_File_SinglePass);
BENCHMARK(BM_File_TwoPasses);

BENCHMARK_MAIN();
