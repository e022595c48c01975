#include "report/tray_posix.h"

#include <mutex>

namespace marvik {

namespace {
TrayRecord g_record{TRAY_FLAGS, {}, {}, {}, 0, TrayIconState::Waiting};
// The shell's own: like the real one it takes one call at a time, and knows
// nothing of the lock the operations hold.
std::mutex g_shellLock;
std::vector<TrayShellCallRecord> g_shellCalls;
}  // namespace

TrayFields trayFields() {
    return {g_record.flags, g_record.tip, g_record.info, g_record.infoTitle, g_record.infoLevel};
}

void trayShellCall(TrayCall call) {
    std::lock_guard<std::mutex> hold(g_shellLock);
    g_shellCalls.push_back({call, g_record});
}

void traySetIcon(TrayIconState state) { g_record.icon = state; }

std::vector<TrayShellCallRecord> takeTrayShellCalls() {
    std::vector<TrayShellCallRecord> taken;
    std::lock_guard<std::mutex> hold(g_shellLock);
    taken.swap(g_shellCalls);
    return taken;
}

}  // namespace marvik
