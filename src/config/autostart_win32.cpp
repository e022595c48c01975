#include <windows.h>

#include <string>

#include "base/exe_path.h"
#include "base/utf8_windows.h"
#include "config/autostart_windows.h"

namespace marvik {

void writeAutostartValue() {
    // A path that did not fit would start nothing; leave the value as it is.
    std::string exe = executablePath();
    if (exe.empty()) return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wideFromUtf8(AUTOSTART_RUN_KEY).c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    // Quoted: unquoted, a path with blanks is tried blank by blank, and
    // C:\...\Programs\Marvik.exe would run before the client does.
    const std::wstring command = L"\"" + wideFromUtf8(exe) + L"\"";
    RegSetValueExW(key, wideFromUtf8(AUTOSTART_VALUE_NAME).c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

}  // namespace marvik
