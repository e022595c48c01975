#include "checks/digest_cache.h"

#include "checks/text_match.h"

namespace marvik {

const std::string* cachedDigest(DigestCache& cache, const std::string& path, std::uint64_t size,
                                std::uint64_t writeTime) {
    auto found = cache.entries.find(asciiLowerCopy(path));
    if (found == cache.entries.end()) return nullptr;
    DigestCacheEntry& entry = found->second;
    entry.seen = true;
    if (entry.size != size || entry.writeTime != writeTime || entry.md5.empty()) return nullptr;
    return &entry.md5;
}

void rememberDigest(DigestCache& cache, const std::string& path, std::uint64_t size, std::uint64_t writeTime,
                    const std::string& md5) {
    DigestCacheEntry& entry = cache.entries[asciiLowerCopy(path)];
    entry.size = size;
    entry.writeTime = writeTime;
    entry.md5 = md5;
    entry.seen = true;
}

void endDigestScan(DigestCache& cache) {
    for (auto it = cache.entries.begin(); it != cache.entries.end();) {
        if (!it->second.seen) {
            it = cache.entries.erase(it);
        } else {
            it->second.seen = false;
            ++it;
        }
    }
}

}  // namespace marvik
