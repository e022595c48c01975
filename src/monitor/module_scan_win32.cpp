#include "app/globals.h"
#include "checks/checks.h"
#include "inventory/modules.h"
#include "monitor/workers_win32.h"
#include "net/chunks.h"
#include "net/udp_client.h"
#include "session/session_stop.h"

namespace marvik {

namespace {
constexpr std::uint32_t MODULE_SCAN_PERIOD_MS = 60000;
constexpr std::uint32_t MODULE_SCAN_UNVERIFIED_MS = 2000;
}  // namespace

DWORD WINAPI moduleScanThread(LPVOID) {
    UDPClient* client = g_clientPtr.load();
    if (client == nullptr) return 0;
    for (;;) {
        if (!g_running.load() || g_gamePID.load() == 0 || !g_sessionActive.load()) return 0;
        if (!g_verified.load()) {
            if (!sessionSleep(MODULE_SCAN_UNVERIFIED_MS)) return 0;
            continue;
        }
        std::vector<ModuleInfo> modules = scanProcessModules(g_gamePID.load());
        if (!modules.empty()) {
            sendModules(*client, modules);
            sendModuleLog(*client, modules);
            replaceBaselineModules(modules);
        }
        if (!sessionSleep(MODULE_SCAN_PERIOD_MS)) return 0;
    }
}

}  // namespace marvik
