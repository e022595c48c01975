#include "inventory/file_digests.h"

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

namespace marvik {

namespace {

struct CachedDigest {
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0;
    FileHashes hashes;
};

// Far more files than a game and a machine's processes have; past it the
// cache starts over rather than grow without end.
constexpr std::size_t DIGEST_CACHE_MAX = 8192;

std::mutex g_digestMutex;
std::map<std::pair<std::uint64_t, std::uint64_t>, CachedDigest> g_digests;  // by (volume, index)
std::atomic<std::uint64_t> g_digestReads{0};

}  // namespace

FileHashes cachedFileHashesWithin(const std::string& path, const FileStamp& stamp, std::uint64_t& readBudget) {
    const auto key = std::make_pair(stamp.volume, stamp.index);
    if (stamp.known) {
        std::lock_guard<std::mutex> lock(g_digestMutex);
        auto found = g_digests.find(key);
        if (found != g_digests.end() && found->second.size == stamp.size && found->second.writeTime == stamp.writeTime)
            return found->second.hashes;
    }
    if (stamp.size > readBudget) return FileHashes{};
    readBudget -= stamp.size;
    g_digestReads.fetch_add(1);
    FileHashes hashes = fileHashes(path);
    if (stamp.known && hashes.opened) {
        std::lock_guard<std::mutex> lock(g_digestMutex);
        if (g_digests.size() >= DIGEST_CACHE_MAX) g_digests.clear();
        g_digests[key] = CachedDigest{stamp.size, stamp.writeTime, hashes};
    }
    return hashes;
}

FileHashes cachedFileHashes(const std::string& path) {
    std::uint64_t unbounded = UINT64_MAX;
    return cachedFileHashesWithin(path, fileStamp(path), unbounded);
}

std::uint64_t fileDigestReads() { return g_digestReads.load(); }

bool sameFileStamp(const FileStamp& a, const FileStamp& b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index && a.size == b.size &&
           a.writeTime == b.writeTime;
}

}  // namespace marvik
