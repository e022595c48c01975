#include "support/scripted_game.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace marvik {

namespace {
std::mutex g_scriptMutex;
ScriptedGame g_script;

bool isTheGame(std::uint32_t pid) { return pid != 0 && pid == g_script.pid; }
}  // namespace

void editScriptedGame(const std::function<void(ScriptedGame&)>& edit) {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    edit(g_script);
}

std::uint32_t findGameProcess() {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return g_script.pid;
}

GameStatus gameStatus(std::uint32_t pid) {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return isTheGame(pid) ? GameStatus::RUNNING : GameStatus::GONE;
}

std::string processImagePath(std::uint32_t pid) {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return isTheGame(pid) ? g_script.imagePath : std::string();
}

// Nothing is found beyond the game's modules, its debugger and the client's own file.
std::uint32_t countProcesses() { return 0; }

std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid, ModuleFiles) {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return isTheGame(pid) ? g_script.modules : std::vector<ModuleInfo>();
}

bool checkDebugger(std::uint32_t pid) {
    std::unique_lock<std::mutex> lock(g_scriptMutex);
    while (g_script.debuggerHangs) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.lock();
    }
    return isTheGame(pid) && g_script.debugger;
}

IntegrityIndicators checkIntegrity() { return {}; }

std::uint32_t selfIntegrityValue() {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return g_script.selfCrc;
}

std::vector<ProcessMD5Hit> scanRunningProcessesMD5() { return {}; }

std::vector<MemoryScanHit> scanProcessMemory(std::uint32_t) { return {}; }

}  // namespace marvik
