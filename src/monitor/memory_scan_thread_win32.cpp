#include "app/globals.h"
#include "checks/checks.h"
#include "monitor/workers_win32.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "report/log.h"
#include "session/session_stop.h"

namespace marvik {

namespace {
constexpr std::uint32_t MEMORY_SCAN_FIRST_WAIT_MS = 10000;
constexpr std::uint32_t MEMORY_SCAN_PERIOD_MS = 120000;
constexpr std::uint32_t MEMORY_SCAN_UNVERIFIED_MS = 5000;

void sendMemoryReport(UDPClient& client, const MemoryScanHit& hit) {
    MemoryReportPayload report{};
    report.address = hit.address;
    report.size = hit.size;
    report.hitFlag = 1;
    copyText(report.description, hit.description);
    client.sendPacket(PKT_MEMORY_REPORT, &report, sizeof report);
}

}  // namespace

DWORD WINAPI memoryScanThread(LPVOID) {
    UDPClient* client = g_clientPtr.load();
    if (client == nullptr) return 0;
    if (!sessionSleep(MEMORY_SCAN_FIRST_WAIT_MS)) return 0;
    while (g_running.load() && g_gamePID.load() != 0 && g_sessionActive.load()) {
        if (!g_verified.load()) {
            if (!sessionSleep(MEMORY_SCAN_UNVERIFIED_MS)) return 0;
            continue;
        }
        logToFile("MEMSCAN", "Scanning game memory...");
        const std::vector<MemoryScanHit> hits = scanProcessMemory(g_gamePID.load());
        if (!hits.empty()) {
            const int count = static_cast<int>(hits.size());
            logToFile("MEMSCAN", "Found %d suspicious memory regions!", count);
            for (const MemoryScanHit& hit : hits) sendMemoryReport(*client, hit);
            logToFile("MEMSCAN", "Sent %d suspicious memory regions", count);
        }
        if (!sessionSleep(MEMORY_SCAN_PERIOD_MS)) return 0;
    }
    return 0;
}

}  // namespace marvik
