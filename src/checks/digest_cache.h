// Image digests kept from one process scan to the next. The image file of a
// running program cannot be written while it runs, so a file with the size
// and write time it had when it was hashed still has that content: only new
// or changed files are read again, and a scan costs little after the first.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace marvik {

struct DigestCacheEntry {
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0;
    std::string md5;
    bool seen = false;  // looked up or stored during the current scan
};

struct DigestCache {
    std::unordered_map<std::string, DigestCacheEntry> entries;  // by path, ASCII lower case
};

// The remembered MD5 of a file, or null when it is unknown or the file has
// changed since; either way the file counts as seen in this scan.
const std::string* cachedDigest(DigestCache& cache, const std::string& path, std::uint64_t size,
                                std::uint64_t writeTime);
void rememberDigest(DigestCache& cache, const std::string& path, std::uint64_t size, std::uint64_t writeTime,
                    const std::string& md5);
// Forgets the files no process used during the scan, so the cache stays as
// small as the process list and a file that comes back is read again.
void endDigestScan(DigestCache& cache);

}  // namespace marvik
