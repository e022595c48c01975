// The tray icon's tooltip and balloons, callable from any thread. A caller
// logs first, then shows a balloon, then sets a new status.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/version.h"

namespace marvik {

enum class TrayBalloonLevel : std::uint32_t { Info = 1, Warning = 2, Error = 3 };

constexpr const char* TRAY_TIP_PREFIX = "Marvik AC v" MARVIK_VERSION_TEXT " - ";
constexpr const char* TRAY_BALLOON_TITLE = "Marvik AC";
constexpr std::size_t TRAY_TIP_SIZE = 128;
constexpr std::size_t TRAY_INFO_SIZE = 256;
constexpr std::size_t TRAY_TITLE_SIZE = 64;

// The record's uFlags (the shell's NIF_ values): message, icon, tooltip and
// show-tip at all times, since an icon of behaviour version 4 shows no
// tooltip without NIF_SHOWTIP; NIF_INFO only during a balloon call.
constexpr unsigned TRAY_FLAGS = 0x01 | 0x02 | 0x04 | 0x80;
constexpr unsigned TRAY_FLAG_INFO = 0x10;

// The shell calls on the record (the shell's NIM_ values).
enum class TrayCall : unsigned { Add = 0, Modify = 1, Delete = 2, SetVersion = 4 };

// The tooltip's status after a rejection: what to check.
constexpr const char* TRAY_STATUS_REJECTED = "Rejected - check encryption and server address";

// What the icon shows at a glance, without hovering: waiting (the plain
// icon), a running session, or a problem.
enum class TrayIconState { Waiting = 0, Active = 1, Problem = 2 };
constexpr int TRAY_ICON_STATES = 3;

// The icon for a tooltip status: a session that runs (verified or not) is
// active, a rejection a problem, anything else waiting.
TrayIconState trayIconStateFor(const char* status);

// Paints a state's badge into size x size 0xAARRGGBB pixels,
// rows top down: a disc of rgb with a white rim in the lower right corner,
// both opaque, big enough to read at the tray's 16 pixels.
void paintIconBadge(std::uint32_t* pixels, int size, std::uint32_t rgb);

// Tooltip "Marvik AC v<version> - <status>", cut to fit the 128-byte field,
// and the status's icon.
void setTrayStatus(const char* status);

// A balloon titled "Marvik AC" with text (cut at 255 characters) and level;
// an error also shows the problem icon until the next status.
void showTrayBalloon(const char* text, TrayBalloonLevel level);

// Adds the icon and sets its behaviour version 4; removes it (UI thread).
void addTrayIcon();
void removeTrayIcon();

// "Marvik AC v<version> - <status>" into a tooltip field.
void formatTrayTip(char (&tip)[TRAY_TIP_SIZE], const char* status);

// The platform's side. The fields of the one tray record that the
// operations write (g_nid on Windows), and one shell call on the whole
// record. The operations call them under their lock.
struct TrayFields {
    unsigned& flags;
    char (&tip)[TRAY_TIP_SIZE];
    char (&info)[TRAY_INFO_SIZE];
    char (&infoTitle)[TRAY_TITLE_SIZE];
    unsigned long& infoLevel;
};
TrayFields trayFields();
void trayShellCall(TrayCall call);
// Puts the state's icon into the record (shown by the next shell call).
void traySetIcon(TrayIconState state);

}  // namespace marvik
