#include <utility>

#include "checks/checks.h"
#include "inventory/game_process.h"
#include "monitor/workers.h"
#include "net/chunks.h"

namespace marvik {

namespace {
constexpr std::uint32_t MODULE_SCAN_PERIOD_MS = 60000;
constexpr std::uint32_t MODULE_SCAN_UNVERIFIED_MS = 2000;
}  // namespace

void moduleScanThread(SessionLink& link) {
    for (;;) {
        if (!sessionGoesOn(link) || !waitUntilVerified(link, MODULE_SCAN_UNVERIFIED_MS)) return;
        std::vector<ModuleInfo> modules = scanProcessModules(link.facts.gamePid, ModuleFiles::STAMPED);
        if (!modules.empty()) {
            sendModules(link.client, modules);
            sendModuleLog(link.client, modules);
            replaceBaselineModules(*link.moduleBaseline, std::move(modules));
        }
        if (!sessionSleep(link, MODULE_SCAN_PERIOD_MS)) return;
    }
}

}  // namespace marvik
