#include <windows.h>

#include <string>

#include "app/exe_path.h"
#include "config/autostart.h"

namespace marvik {

void writeAutostartValue() {
    // A path that did not fit would start nothing; leave the value as it is.
    std::string exe = executablePath();
    if (exe.empty()) return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, AUTOSTART_VALUE_NAME, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(exe.c_str()),
                   static_cast<DWORD>(exe.size() + 1));
    RegCloseKey(key);
}

}  // namespace marvik
