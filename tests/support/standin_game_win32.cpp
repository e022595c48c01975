#include "support/standin_game.h"

#include "support/files.h"

namespace marvik::test {

std::string testFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string p = path;
    return p.substr(0, p.find_last_of('\\'));
}

std::string fixture(const char* name) { return testFolder() + "\\..\\fixtures\\" + name; }

std::string standinExe(bool thirtyTwo) {
    if (!thirtyTwo || sizeof(void*) == 4) return testFolder() + "\\..\\tools\\standin_game\\standin_game.exe";
    return testFolder() + "\\..\\..\\win32\\tools\\standin_game\\standin_game.exe";
}

std::vector<bool> standinWidths() {
    if (sizeof(void*) == 4) return {true};
    return {false, true};
}

StandinGame::StandinGame(const std::string& args, const char* name, const std::string& image, int readyMs) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder = std::string(temp) + "marvik_game_" + std::to_string(GetTickCount()) + "_" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    exe = folder + "\\" + name;
    CopyFileA(image.c_str(), exe.c_str(), FALSE);
    std::string commandLine = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return;
    // Loading many DLLs under Wine takes a few seconds.
    for (int i = 0; i < readyMs / 50 && !fileExists(exe + ".ready"); ++i) Sleep(50);
}

StandinGame::~StandinGame() {
    if (pi.hProcess != nullptr) {
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    removePath(folder);
}

void StandinGame::command(const std::string& line) {
    writeFile(exe + ".cmd", line + "\n");
    for (int i = 0; i < 100 && fileExists(exe + ".cmd"); ++i) Sleep(50);
    Sleep(100);
}

}  // namespace marvik::test
