#include "support/scripted_game.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace marvik {

namespace {
std::mutex g_scriptMutex;
ScriptedGame g_script;

// What read takes from the script, under its lock.
template <typename Read>
auto scripted(Read read) {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return read(g_script);
}

bool isTheGame(const ScriptedGame& s, std::uint32_t pid) { return pid != 0 && pid == s.pid; }
}  // namespace

void editScriptedGame(const std::function<void(ScriptedGame&)>& edit) { scripted(edit); }

std::uint32_t findGameProcess() { return scripted([](ScriptedGame& s) { return s.pid; }); }

GameStatus gameStatus(std::uint32_t pid) {
    return scripted([pid](ScriptedGame& s) { return isTheGame(s, pid) ? GameStatus::RUNNING : GameStatus::GONE; });
}

std::string processImagePath(std::uint32_t pid) {
    return scripted([pid](ScriptedGame& s) { return isTheGame(s, pid) ? s.imagePath : std::string(); });
}

// Nothing is found beyond the game's modules, its debugger and the client's own file.
std::uint32_t countProcesses() { return 0; }

std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid, ModuleFiles) {
    return scripted([pid](ScriptedGame& s) { return isTheGame(s, pid) ? s.modules : std::vector<ModuleInfo>(); });
}

bool checkDebugger(std::uint32_t pid) {
    std::unique_lock<std::mutex> lock(g_scriptMutex);
    while (g_script.debuggerHangs) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.lock();
    }
    return isTheGame(g_script, pid) && g_script.debugger;
}

IntegrityIndicators checkIntegrity() { return {}; }

std::uint32_t selfIntegrityValue() { return scripted([](ScriptedGame& s) { return s.selfCrc; }); }

std::vector<ProcessMD5Hit> scanRunningProcessesMD5() { return {}; }

std::vector<MemoryScanHit> scanProcessMemory(std::uint32_t) { return {}; }

}  // namespace marvik
