// The tray icon's tooltip and balloons, callable from any thread. A caller
// logs first, then shows a balloon, then sets a new status.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvik {

enum class TrayBalloonLevel : std::uint32_t { Info = 1, Warning = 2, Error = 3 };

constexpr const char* TRAY_TIP_PREFIX = "Marvik AC v3.2 - ";
constexpr const char* TRAY_BALLOON_TITLE = "Marvik AC";
constexpr std::size_t TRAY_TIP_SIZE = 128;
constexpr std::size_t TRAY_INFO_SIZE = 256;
constexpr std::size_t TRAY_TITLE_SIZE = 64;

// Tooltip "Marvik AC v3.2 - <status>", cut to fit the 128-byte field.
void setTrayStatus(const char* status);

// A balloon titled "Marvik AC" with text (cut at 255 characters) and level.
void showTrayBalloon(const char* text, TrayBalloonLevel level);

// The field fills both operations use, kept apart from the shell call.
void formatTrayTip(char (&tip)[TRAY_TIP_SIZE], const char* status);
void fillBalloonTitle(char (&title)[TRAY_TITLE_SIZE]);
void fillBalloonText(char (&info)[TRAY_INFO_SIZE], const char* text);

}  // namespace marvik
