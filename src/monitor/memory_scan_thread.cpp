#include "base/clock.h"
#include "checks/checks.h"
#include "inventory/game_process.h"
#include "monitor/workers.h"
#include "net/packets.h"
#include "report/log.h"

namespace marvik {

namespace {
constexpr std::uint32_t MEMORY_SCAN_FIRST_WAIT_MS = 10000;
constexpr std::uint32_t MEMORY_SCAN_PERIOD_MS = 120000;
constexpr std::uint32_t MEMORY_SCAN_UNVERIFIED_MS = 5000;

}  // namespace

void sendMemoryReport(UDPClient& client, const MemoryScanHit& hit) {
    MemoryReportPayload report{};
    report.address = hit.address;
    report.size = hit.size;
    report.hitFlag = 1;
    copyText(report.description, hit.description);
    client.sendPacket(PKT_MEMORY_REPORT, &report, sizeof report);
}

void memoryScanThread(SessionLink& link) {
    if (!sessionSleep(link, MEMORY_SCAN_FIRST_WAIT_MS)) return;
    while (sessionGoesOn(link) && waitUntilVerified(link, MEMORY_SCAN_UNVERIFIED_MS)) {
        logToFile("MEMSCAN", "Scanning game memory...");
        link.memoryPassSince.store(passStartTick());
        const std::vector<MemoryScanHit> hits = scanProcessMemory(link.facts.gamePid);
        link.memoryPassSince.store(0);
        // A scan that outlived its session reports nothing.
        if (!hits.empty() && !sessionStopped(link)) {
            const int count = static_cast<int>(hits.size());
            logToFile("MEMSCAN", "Found %d suspicious memory regions!", count);
            for (const MemoryScanHit& hit : hits) sendMemoryReport(link.client, hit);
            logToFile("MEMSCAN", "Sent %d suspicious memory regions", count);
        }
        if (!sessionSleep(link, MEMORY_SCAN_PERIOD_MS)) return;
    }
}

}  // namespace marvik
