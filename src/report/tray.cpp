#include "report/tray.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace marvik {

namespace {
// Held across one operation's field writes and its shell call, so that
// the shell never gets one operation's text with another's level or flags.
// Never deleted, like the log lock: late calls at process end stay safe.
std::mutex& g_trayLock = *new std::mutex;
}  // namespace

void formatTrayTip(char (&tip)[TRAY_TIP_SIZE], const char* status) {
    std::snprintf(tip, sizeof tip, "%s%s", TRAY_TIP_PREFIX, status);
}

TrayIconState trayIconStateFor(const char* status) {
    static const struct {
        const char* status;
        TrayIconState state;
    } states[] = {
        {"Verified - Active", TrayIconState::Active},
        {"Active (no verify)", TrayIconState::Active},
        {TRAY_STATUS_REJECTED, TrayIconState::Problem},
    };
    for (const auto& s : states)
        if (std::strcmp(status, s.status) == 0) return s.state;
    return TrayIconState::Waiting;
}

void paintIconBadge(std::uint32_t* pixels, int size, std::uint32_t rgb) {
    const double radius = size * 0.22, centre = size - radius - 1.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - centre, dy = y + 0.5 - centre, d = dx * dx + dy * dy;
            if (d <= radius * radius) pixels[y * size + x] = 0xFF000000u | rgb;
            else if (d <= (radius + 1.0) * (radius + 1.0)) pixels[y * size + x] = 0xFFFFFFFFu;
        }
}

void setTrayStatus(const char* status) {
    std::lock_guard<std::mutex> hold(g_trayLock);
    formatTrayTip(trayFields().tip, status);
    traySetIcon(trayIconStateFor(status));
    trayShellCall(TrayCall::Modify);
}

void showTrayBalloon(const char* text, TrayBalloonLevel level) {
    std::lock_guard<std::mutex> hold(g_trayLock);
    TrayFields record = trayFields();
    record.flags |= TRAY_FLAG_INFO;
    std::memset(record.infoTitle, 0, sizeof record.infoTitle);
    std::memcpy(record.infoTitle, TRAY_BALLOON_TITLE, std::strlen(TRAY_BALLOON_TITLE));
    // strncpy zero-fills the rest of the 255 bytes; the last one stays NUL.
    std::strncpy(record.info, text, sizeof record.info - 1);
    record.info[sizeof record.info - 1] = '\0';
    record.infoLevel = static_cast<unsigned long>(level);
    if (level == TrayBalloonLevel::Error) traySetIcon(TrayIconState::Problem);
    trayShellCall(TrayCall::Modify);
    // Without this a later tooltip update would show the balloon again.
    record.flags &= ~TRAY_FLAG_INFO;
}

void addTrayIcon() {
    std::lock_guard<std::mutex> hold(g_trayLock);
    trayShellCall(TrayCall::Add);
    trayShellCall(TrayCall::SetVersion);
}

void removeTrayIcon() {
    std::lock_guard<std::mutex> hold(g_trayLock);
    trayShellCall(TrayCall::Delete);
}

}  // namespace marvik
