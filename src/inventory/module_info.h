// One module loaded into the game, as the inventory lists it.
#pragma once

#include <cstdint>
#include <string>

namespace marvik {

struct ModuleInfo {
    std::string name;       // file name of the module
    std::string path;       // full file path
    std::uint32_t crc32 = 0;  // CRC-32 of the file, 0 when it could not be read
    std::uint32_t size = 0;   // image size in memory, in bytes
    bool suspicious = false;  // marked by the module check
    std::string md5;          // 32 lowercase hex characters, empty when unknown
    std::string detection;    // what the module check found, empty when nothing
};

}  // namespace marvik
