#include "base/exe_path.h"

#include "base/utf8.h"

namespace marvik {

bool fitsSystemPath(const std::string& path) { return utf16Length(path) < MARVIK_MAX_PATH; }

std::string siblingPath(const std::string& exePath, const char* fileName) {
    if (exePath.empty()) return {};
    // Cut after the last separator so the file sits beside the exe,
    // wherever it was started from.
    std::size_t cut = exePath.find_last_of("\\/");
    std::string path = exePath.substr(0, cut == std::string::npos ? 0 : cut + 1);
    path += fileName;
    if (!fitsSystemPath(path)) return {};
    return path;
}

std::string pathBesideExecutable(const char* fileName) {
    return siblingPath(executablePath(), fileName);
}

}  // namespace marvik
