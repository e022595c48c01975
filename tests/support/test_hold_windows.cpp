// The test build's hold hook: MARVIK_TEST_HOLD="place=ms,..." stalls the thread reaching place once, beyond any
// stop signal, as a system call can; marvik_hold.txt beside the executable notes when it is held and released.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/exe_path.h"
#include "base/process_flags.h"
#include "base/test_hold.h"

namespace marvik::test {

namespace {

std::mutex g_holdMutex;
std::string g_holdSpec;  // ",place=ms,...": a place that has held is struck out
std::atomic<int> g_holding{0};

void note(const char* place, const char* what) {
    if (std::FILE* f = std::fopen(pathBesideExecutable("marvik_hold.txt").c_str(), "a")) {
        std::fprintf(f, "%lu %s %s\n", static_cast<unsigned long>(GetTickCount()), place, what);
        std::fclose(f);
    }
}

void holdAt(const char* place) {
    unsigned long ms = 0;
    {
        std::lock_guard<std::mutex> lock(g_holdMutex);
        const std::size_t at = g_holdSpec.find("," + std::string(place) + "=");
        if (at == std::string::npos) return;
        ms = std::strtoul(g_holdSpec.c_str() + at + std::strlen(place) + 2, nullptr, 10);
        g_holdSpec[at] = '-';
    }
    g_holding.fetch_add(1);
    note(place, "held");
    // Busy with what the program shares, so that anything destroyed under it shows.
    const DWORD start = GetTickCount();
    volatile std::size_t seen = 0;
    while (GetTickCount() - start < ms) {
        seen = seen + g_gamePID.load() + g_liveWorkers.load();
        Sleep(1);
    }
    note(place, "released");
    g_holding.fetch_sub(1);
}

// Registered after the program's statics were built, so it runs before their destructors: the moment to
// tell whether they are about to be destroyed under a thread still at work.
void atProcessExit() {
    if (g_holding.load() != 0) note("exit", "statics-destroyed-under-a-held-thread");
}

}  // namespace

void installTestHold() {
    const char* spec = std::getenv("MARVIK_TEST_HOLD");
    if (spec == nullptr || *spec == '\0') return;
    g_holdSpec = std::string(",") + spec;
    g_testHold = holdAt;
    std::atexit(atProcessExit);
}

}  // namespace marvik::test
