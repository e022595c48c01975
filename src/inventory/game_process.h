// Everything the session and its workers ask of the game and of the machine
// around it, in one list: find the game, watch it, name it, list its modules,
// and run the checks over it and over the client. Each call has two bodies:
// the Windows build's system calls (the *_win32.cpp files beside the checks
// and the inventory, with their shared pieces in game_process_windows.h),
// and the native test build's scripted game (tests/support/scripted_game.h),
// so that whole sessions run as native tests. A new call needs both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "inventory/module_info.h"

namespace marvik {

// Process id of the first process in the system's list whose executable is
// the game; 0 when there is none or the list cannot be taken.
std::uint32_t findGameProcess();

enum class GameStatus {
    RUNNING,  // the process runs (or its exit code happens to be 259)
    EXITED,   // it opened but has an exit code, or the code cannot be read
    GONE,     // it cannot be opened at all
};
GameStatus gameStatus(std::uint32_t pid);

// Full Win32 path of the process's executable; empty when the process
// cannot be opened or the path does not fit in 260 characters.
std::string processImagePath(std::uint32_t pid);

// The number of processes on the machine, at most 2048; 0 when the list
// cannot be taken.
std::uint32_t countProcesses();

// The game's modules in the order the system lists them, the executable
// first, each already run through the module check. Empty when the process
// cannot be opened or its modules cannot be listed.
// A module's file is hashed when its module first appears. With
// ModuleFiles::STAMPED every file is also looked at again (by name, its
// size and write time, no open, no read): one that is gone (renamed or
// deleted after load, as a cheat does with its DLL) gets crc32 0 and no
// md5, a changed one is hashed again. The module reports' scans (session start, every minute)
// look; the heartbeat's, every 5 s, use what the last look found: even a
// look by name costs a call into the system per file, and a game has 125.
enum class ModuleFiles { CACHED, STAMPED };
std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid, ModuleFiles files = ModuleFiles::CACHED);

// Debugger check on the game process and on the client itself: the
// remote-debugger query, the debug port, debug object and debug flags of
// each process, the game's PEB (BeingDebugged, heap debug flags) and its
// threads' debug registers.
bool checkDebugger(std::uint32_t gamePid);

// Anti-tamper check of the client process.
IntegrityIndicators checkIntegrity();

// Self-integrity value: CRC-32 of the client's executable file, 0 when it
// cannot be read.
std::uint32_t selfIntegrityValue();

// Running-process check over every process of the machine.
std::vector<ProcessMD5Hit> scanRunningProcessesMD5();

// Memory check over the game's address space.
std::vector<MemoryScanHit> scanProcessMemory(std::uint32_t pid);

}  // namespace marvik
