// File hashes kept per file identity. A file with the same volume, file
// index, size and last-write time as one hashed before has the same content
// (a loaded image or a running program's file cannot be written while in
// use), so it is never read twice: the module inventory, the running-process
// check and the self-integrity value share one cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/hash.h"

namespace marvik {

// What names a file's content: where it lives, how big it is and when it
// was last written. known is false when the file cannot be opened.
struct FileStamp {
    bool known = false;
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0;
};
FileStamp fileStamp(const std::string& path);
// The size and last-write time alone (volume and index 0), asked by name
// without opening the file: under Wine an open is a round trip to its
// server, this is not. known is false when there is no such file.
FileStamp fileSizeAndTime(const std::string& path);
// Whether two stamps are known and name the same content.
bool sameFileStamp(const FileStamp& a, const FileStamp& b);

// The whole file (at most 256 MiB); empty when it cannot be read whole.
std::vector<std::uint8_t> readWholeFile(const std::string& path);

// fileHashes(path), from the cache when the file's stamp matches one hashed
// before; a file that cannot be stamped is hashed as it is (or not at all).
FileHashes cachedFileHashes(const std::string& path);
// The same for a caller that bounds how much it reads in one pass: a file
// the cache does not hold is read only if its size fits in readBudget, which
// the read then uses up; a file left out has opened false and is read on a
// later pass (the ones already hashed cost nothing then). stamp is the
// file's fileStamp, which the caller already has.
FileHashes cachedFileHashesWithin(const std::string& path, const FileStamp& stamp, std::uint64_t& readBudget);

// How many times a file was actually read by cachedFileHashes, for tests
// and benchmarks.
std::uint64_t fileDigestReads();

}  // namespace marvik
