// The game process as the session, its workers and the checks see it: found
// by its executable's name, watched, named by its image path, opened for
// reading. The Windows build makes the system calls; the native build's
// counterpart is a scripted game for tests (game_process_posix.h).
#pragma once

#include <cstdint>
#include <string>

namespace marvik {

// An open process, for reading its memory and modules; 0 is none.
using ProcessHandle = std::uintptr_t;

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

// The process opened for querying and reading its memory; 0 when it cannot
// be. Every handle opened is closed with closeProcess.
ProcessHandle openProcessForReading(std::uint32_t pid);
void closeProcess(ProcessHandle process);

// The file mapped at address in the process, as a drive path ("C:\\..."),
// as the system names it; empty when nothing is mapped there.
std::string mappedFileName(ProcessHandle process, std::uint64_t address);

// Whether path lies in the Windows folder (ASCII case ignored).
bool inWindowsFolder(const std::string& path);

// The number of processes on the machine, at most 2048; 0 when the list
// cannot be taken.
std::uint32_t countProcesses();

}  // namespace marvik
