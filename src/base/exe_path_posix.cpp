#include <unistd.h>

#include "base/exe_path.h"

namespace marvik {

std::string executablePath() {
    char buf[MARVIK_MAX_PATH];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace marvik
