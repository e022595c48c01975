// check_bench: what the checks cost, measured under Windows (or Wine).
// Starts the stand-in game with the module files found in a folder loaded
// (the build makes the game's own in build/<preset>/tools/standin_game), then times one
// heartbeat's worth of checks over several cycles, and the memory and
// process checks. Prints figures only.
//   check_bench <standin_game.exe> <folder of DLLs> [cycles] [other processes]
// The other processes (default 100) are copies of the stand-in game under
// names of their own, each a distinct image file, so the process check
// sees a busy machine at its worst: nothing shared, everything hashed.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/game_handles.h"
#include "checks/game_threads.h"
#include "checks/code_patch.h"
#include "inventory/hash.h"
#include "checks/checks_windows.h"

namespace {

double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

double wallMs() { return GetTickCount64(); }

std::string otherImage(const std::string& image, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "other%03d.exe", i);
    return image.substr(0, image.find_last_of('\\') + 1) + name;
}

void removeOthers(const std::string& image, int count) {
    for (int i = 0; i < count; ++i) {
        DeleteFileA(otherImage(image, i).c_str());
        DeleteFileA((otherImage(image, i) + ".ready").c_str());
    }
}

std::vector<PROCESS_INFORMATION> startOthers(const std::string& image, int count) {
    std::vector<PROCESS_INFORMATION> started;
    for (int i = 0; i < count; ++i) {
        const std::string copy = otherImage(image, i);
        if (!CopyFileA(image.c_str(), copy.c_str(), FALSE)) continue;
        std::string command = "\"" + copy + "\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            started.push_back(pi);
    }
    Sleep(3000);  // let them finish starting
    return started;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: check_bench <standin_game.exe> <dll folder> [cycles] [other processes]\n");
        return 64;
    }
    const int cycles = argc > 3 ? std::atoi(argv[3]) : 10;
    const int others = argc > 4 ? std::atoi(argv[4]) : 100;
    std::string command = std::string("\"") + argv[1] + "\"";
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((std::string(argv[2]) + "\\*.dll").c_str(), &entry);
    int dlls = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            command += std::string(" --load \"") + argv[2] + "\\" + entry.cFileName + "\"";
            ++dlls;
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start the stand-in game\n");
        return 2;
    }
    const std::string ready = std::string(argv[1]) + ".ready";
    for (int i = 0; i < 200 && GetFileAttributesA(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    Sleep(500);
    const std::uint32_t pid = pi.dwProcessId;

    std::vector<marvik::ModuleInfo> modules = marvik::scanProcessModules(pid);  // warms the file cache
    double bytes = 0;
    for (const marvik::ModuleInfo& m : modules) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(m.path.c_str(), GetFileExInfoStandard, &data)) bytes += data.nFileSizeLow;
    }
    std::printf("stand-in game: %zu modules (%d loaded from the folder), %.1f MB of module files\n", modules.size(),
                dlls, bytes / 1e6);

    double scanCpu = 0, otherCpu = 0;
    const double wall0 = wallMs();
    for (int c = 0; c < cycles; ++c) {
        double t0 = cpuMs();
        modules = marvik::scanProcessModules(pid);
        double t1 = cpuMs();
        bool d = marvik::checkDebugger(pid);
        marvik::IntegrityIndicators ind = marvik::checkIntegrity();
        std::uint32_t self = marvik::selfIntegrityValue();
        scanCpu += t1 - t0;
        otherCpu += cpuMs() - t1;
        if (d || marvik::integrityAlert(ind) || self == 0) std::printf("  (a check fired in cycle %d)\n", c);
    }
    const double wall = (wallMs() - wall0) / cycles;
    const double cycleCpu = (scanCpu + otherCpu) / cycles;
    std::printf("heartbeat checks: %.1f ms CPU per cycle (module scan %.1f, debugger+integrity+self %.1f), %.1f ms wall\n",
                cycleCpu, scanCpu / cycles, otherCpu / cycles, wall);
    std::printf("module hashing: %.0f MB/s CPU (%.1f MB per cycle)\n", bytes / 1e6 / (scanCpu / cycles / 1000.0),
                bytes / 1e6);
    // The file hashing alone, to tell it from the walk over the game's module list.
    double h0 = cpuMs();
    const double hw0 = wallMs();
    for (int c = 0; c < cycles; ++c)
        for (const marvik::ModuleInfo& m : modules) (void)marvik::fileHashes(m.path);
    const double hashCpu = (cpuMs() - h0) / cycles, hashWall = (wallMs() - hw0) / cycles;
    std::printf("  of which file hashing: %.1f ms CPU, %.1f ms wall per cycle = %.0f MB/s\n", hashCpu, hashWall,
                bytes / 1e6 / (hashWall / 1000.0));
    // And the walk over the module list the system gives (the enumeration and its three companion calls).
    double w0 = cpuMs();
    const double ww0 = wallMs();
    for (int c = 0; c < cycles; ++c) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        HMODULE handles[1024];
        DWORD got = 0;
        K32EnumProcessModulesEx(process, handles, sizeof handles, &got, LIST_MODULES_ALL);
        for (DWORD i = 0; i < got / sizeof(HMODULE) && i < 1024; ++i) {
            char text[MAX_PATH];
            MODULEINFO info;
            K32GetModuleFileNameExA(process, handles[i], text, MAX_PATH);
            K32GetModuleBaseNameA(process, handles[i], text, MAX_PATH);
            K32GetModuleInformation(process, handles[i], &info, sizeof info);
        }
        CloseHandle(process);
    }
    std::printf("  of which the module list walk: %.1f ms CPU, %.1f ms wall per cycle\n", (cpuMs() - w0) / cycles,
                (wallMs() - ww0) / cycles);
    std::printf("load at a 5 s period: %.2f %% of one core\n", cycleCpu / 5000.0 * 100.0);

    double t0 = cpuMs();
    std::size_t hits = 0;
    for (int i = 0; i < 5; ++i) hits = marvik::scanProcessMemory(pid).size();
    std::printf("memory check: %.1f ms CPU per scan (%zu hits)\n", (cpuMs() - t0) / 5, hits);
    // The methods on the game's threads and on handles to it, apart.
    const auto perRun = [](const char* what, auto run) {
        const double c0 = cpuMs(), start = wallMs();
        std::size_t n = 0;
        for (int i = 0; i < 5; ++i) n = run();
        std::printf("  %s: %.2f ms CPU, %.2f ms wall per run (%zu)\n", what, (cpuMs() - c0) / 5, (wallMs() - start) / 5, n);
    };
    perRun("game threads, start and ip (memory check)",
           [pid] { return marvik::readGameThreads(pid, marvik::ThreadRead::START_AND_IP).size(); });
    perRun("game threads, debug registers (debugger check)",
           [pid] { return marvik::readGameThreads(pid, marvik::ThreadRead::DEBUG_REGISTERS).size(); });
    perRun("handles on the game (process check)", [pid] { return marvik::scanGameHandles(pid).size(); });
    // Its comparison of code with the files, apart, once the scans above
    // have read and relocated the files: what every later pass costs.
    {
        const marvik::ProcessHandle again = marvik::openProcessForReading(pid);
        t0 = cpuMs();
        double cw0 = wallMs();
        for (int i = 0; i < 5; ++i) hits = marvik::scanCodePatches(again, pid).size();
        std::printf("  of which patched code: %.1f ms CPU, %.1f ms wall per scan (%zu hits)\n", (cpuMs() - t0) / 5,
                    (wallMs() - cw0) / 5, hits);
        marvik::closeProcess(again);
    }
    std::vector<PROCESS_INFORMATION> fillers = startOthers(argv[1], others);
    DWORD ids[4096], got = 0;
    K32EnumProcesses(ids, sizeof ids, &got);
    // The first scan reads every image file it may; the later ones only what changed.
    t0 = cpuMs();
    double pw0 = wallMs();
    hits = marvik::scanRunningProcessesMD5().size();
    std::printf("process check: first scan %.1f ms CPU, %.1f ms wall over %lu processes (%zu hits)\n", cpuMs() - t0,
                wallMs() - pw0, static_cast<unsigned long>(got / sizeof(DWORD)), hits);
    t0 = cpuMs();
    pw0 = wallMs();
    for (int i = 0; i < 5; ++i) hits = marvik::scanRunningProcessesMD5().size();
    std::printf("process check: later scans %.1f ms CPU, %.1f ms wall each (%zu hits)\n", (cpuMs() - t0) / 5,
                (wallMs() - pw0) / 5, hits);

    for (PROCESS_INFORMATION& f : fillers) {
        TerminateProcess(f.hProcess, 0);
        WaitForSingleObject(f.hProcess, 5000);
        CloseHandle(f.hProcess);
        CloseHandle(f.hThread);
    }
    removeOthers(argv[1], others);
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return 0;
}
