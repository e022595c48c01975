#include <windows.h>

#include "base/exe_path.h"
#include "base/utf8_windows.h"

namespace marvik {

std::string executablePath() {
    wchar_t buf[MARVIK_MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MARVIK_MAX_PATH);
    // A full buffer means the path was cut: treat it as no path at all.
    if (n == 0 || n >= MARVIK_MAX_PATH) return {};
    return utf8FromWide(buf, n);
}

}  // namespace marvik
