#include "report/tray_posix.h"

#include <mutex>

namespace marvik {

namespace {
std::mutex g_trayMutex;
TrayText g_trayText{};
}  // namespace

void setTrayStatus(const char* status) {
    std::lock_guard<std::mutex> guard(g_trayMutex);
    formatTrayTip(g_trayText.tip, status);
}

void showTrayBalloon(const char* text, TrayBalloonLevel level) {
    std::lock_guard<std::mutex> guard(g_trayMutex);
    fillBalloonTitle(g_trayText.infoTitle);
    fillBalloonText(g_trayText.info, text);
    g_trayText.infoLevel = static_cast<std::uint32_t>(level);
    ++g_trayText.balloons;
}

TrayText trayTextSnapshot() {
    std::lock_guard<std::mutex> guard(g_trayMutex);
    return g_trayText;
}

}  // namespace marvik
