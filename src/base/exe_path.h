// Files of the program (configuration, log) sit beside its executable.
#pragma once

#include <cstddef>
#include <string>

namespace marvik {

// A path, with its terminating NUL, must fit in this many UTF-16 units:
// the system's own limit, whatever the path's language.
constexpr std::size_t MARVIK_MAX_PATH = 260;

// Whether a UTF-8 path fits in MARVIK_MAX_PATH with its NUL.
bool fitsSystemPath(const std::string& path);

// Full path of the running executable, UTF-8; empty when it does not fit
// in MARVIK_MAX_PATH, so that nobody works with a truncated path.
std::string executablePath();

// exePath cut after its last separator, with fileName appended. Empty when
// exePath is empty or the result would not fit in MARVIK_MAX_PATH.
std::string siblingPath(const std::string& exePath, const char* fileName);

// siblingPath(executablePath(), fileName).
std::string pathBesideExecutable(const char* fileName);

}  // namespace marvik
