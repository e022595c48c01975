// The Run value that starts the client with Windows (Windows only: the
// registry has no native stand-in).
#pragma once

namespace marvik {

constexpr const char* AUTOSTART_RUN_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* AUTOSTART_VALUE_NAME = "Marvik_AntiCheat";

// Sets HKCU\...\Run "Marvik_AntiCheat" to the executable's path in quotes. The key is
// opened, never created; any failure is silent. Never removes the value.
void writeAutostartValue();

}  // namespace marvik
