#include <windows.h>

#include "app/exe_path.h"

namespace marvik {

std::string executablePath() {
    char buf[MARVIK_MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(sizeof buf));
    // A full buffer means the path was cut: treat it as no path at all.
    if (n == 0 || n >= sizeof buf) return {};
    return std::string(buf, n);
}

}  // namespace marvik
