// The stand-in game (tools/standin_game) run as a real process for the
// Windows tests: copied to a fresh temporary folder under the name given and
// started with the arguments given; killed and removed at the end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace marvik::test {

// The test executable's folder, a fixture built beside it, and the stand-in
// game of this build's width or, from the x86-64 build, the i686 build's.
std::string testFolder();
std::string fixture(const char* name);
std::string standinExe(bool thirtyTwo = false);
// The distinct game widths this build runs, as standinExe's argument: both
// from the x86-64 build, only the 32-bit one from the i686 build.
std::vector<bool> standinWidths();

struct StandinGame {
    std::string folder, exe;
    PROCESS_INFORMATION pi{};

    // Started, then given readyMs to announce itself (a program other than
    // the stand-in never does).
    explicit StandinGame(const std::string& args = "", const char* name = "iw3mp.exe",
                         const std::string& image = standinExe(), int readyMs = 10000);
    ~StandinGame();
    StandinGame(const StandinGame&) = delete;
    StandinGame& operator=(const StandinGame&) = delete;
    std::uint32_t pid() const { return pi.dwProcessId; }
    // A line for the stand-in's command file, returned once it has taken it.
    void command(const std::string& line);
};

}  // namespace marvik::test
