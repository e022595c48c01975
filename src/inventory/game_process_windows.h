// The Windows backend's shared pieces: the game opened for reading, its
// memory read, its width as the client sees it, the file mapped at an
// address, the loader lists as the module walk last read them. The module
// walk and the checks' Windows files use them; nothing portable does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/game_process.h"
#include "inventory/loader_list.h"

namespace marvik {

// An open process, for reading its memory and modules; 0 is none.
using ProcessHandle = std::uintptr_t;

// The process opened for querying and reading its memory; 0 when it cannot
// be. Every handle opened is closed with closeProcess.
ProcessHandle openProcessForReading(std::uint32_t pid);
void closeProcess(ProcessHandle process);

// Reads of the process's memory: whole reads only, and none of an address
// this build's pointers cannot hold (a 64-bit game's, from the 32-bit client).
ReadMemory processReader(HANDLE process);

// A process's width as this client sees it. A 32-bit process on 64-bit
// Windows (WOW64) has two process environment blocks: its own 32-bit one,
// where its loader list and debug flags live, and the system's 64-bit one,
// whose loader list holds the system's 64-bit images (ntdll, the WOW64 layer).
struct Wow64View {
    int width = 0;                // the process's pointer width, 4 or 8
    bool wow64 = false;           // a 32-bit process on 64-bit Windows
    std::uint64_t peb = 0;        // the block of its own width; 0 when not found or beyond this client's reach
    std::uint64_t nativePeb = 0;  // a WOW64 process's 64-bit block, from the 64-bit client; 0 otherwise
};
// The view of a process opened with at least limited query rights; a WOW64
// process's blocks are found only when it may also be read.
Wow64View wow64View(HANDLE process);

// For a WOW64 game, a path in the 64-bit system folder turned into the
// 32-bit one when that file exists, as the game's own file accesses are (its
// loader names its system DLLs from the 64-bit folder, and some systems
// leave their mapped names there too). Other paths unchanged.
std::string redirectSystemFolder(const std::string& path, const Wow64View& game);

// The file mapped at address in the process, as a drive path ("C:\\..."),
// as the system names it; empty when nothing is mapped there.
std::string mappedFileName(ProcessHandle process, std::uint64_t address);

// Whether path lies in the Windows folder (ASCII case ignored).
bool inWindowsFolder(const std::string& path);

// The modules of the game's loader lists as scanProcessModules last walked
// them (walked now when fresh or never walked), with the file mapped at each
// and the game's pointer width (4 or 8) in width.
std::vector<ListedModule> listedModules(std::uint32_t pid, bool fresh, int& width);

// How scanProcessModules' last walks of the game's loader lists ended (its
// own list, and a 32-bit game's 64-bit one).
std::vector<LoaderListEnd> loaderListEnds(std::uint32_t pid);

}  // namespace marvik
