// The detection checks. Each is a plain call that returns what it found;
// none logs, sends or shows anything. A check that cannot do its work
// reports nothing found.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "inventory/module_info.h"

namespace marvik {

// One suspicious range of the game's memory.
struct MemoryScanHit {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
    std::string description;
};

// One running process that matched the table of known cheat tools.
struct ProcessMD5Hit {
    std::uint32_t pid = 0;
    std::string name;       // executable file name, as the process list gives it
    std::string path;       // full path of the image file
    std::string md5;        // fileMD5 of that file
    std::string detection;  // what matched
};

// The anti-tamper indicators, in bit order: indicator i sets bit i of the
// challenge response's integrityFlags.
struct IntegrityIndicators {
    bool debuggerOnClient = false;     // bit 0
    bool hardwareBreakpoints = false;  // bit 1
    bool codeModified = false;         // bit 2: the client's own code changed since start
    bool apiHooked = false;            // bit 3: inline hooks on system functions the client uses
    bool reserved4 = false;
    bool reserved5 = false;
    bool reserved6 = false;
    bool reserved7 = false;
};
std::uint8_t integrityFlagsByte(const IntegrityIndicators& indicators);
// Whether the heartbeat's integrityAlertFlag is set by these indicators:
// each of the four real ones counts.
bool integrityAlert(const IntegrityIndicators& indicators);
// An INT3 on its entry, or a jump from it into memory no module owns.
bool functionHooked(const void* function);

// Module check: sets module.suspicious and module.detection. Called by
// scanProcessModules on every record, with the folder of the game's
// executable. A known cheat binary (by MD5) or module name gets its label; a
// DLL loaded from a temporary, download or recycled folder, other than the
// game's own folder and those below it, is flagged without one.
void checkModule(ModuleInfo& module, const std::string& gameFolder);
bool loadedFromUnusualFolder(const std::string& path, const std::string& gameFolder);

// The module baseline of the session: written at session start, replaced
// whole by the module scan thread, read whole by the module-injection
// check; always under g_baselineMutex once worker threads run.
extern std::vector<ModuleInfo> g_baselineModules;
extern std::mutex g_baselineMutex;
void replaceBaselineModules(const std::vector<ModuleInfo>& modules);
std::vector<ModuleInfo> baselineModulesCopy();

// Module-injection check: a module of current whose full path (ASCII case
// ignored) the baseline does not hold. An empty current list gives false.
bool checkModuleInjection(const std::vector<ModuleInfo>& current);
// The comparison itself, for any two lists.
bool hasModuleNotIn(const std::vector<ModuleInfo>& current, const std::vector<ModuleInfo>& baseline);

// Debugger check on the game process and on the client itself: the
// remote-debugger query, the debug port, debug object and debug flags of
// each process, and the game's PEB (BeingDebugged, heap debug flags).
bool checkDebugger(std::uint32_t gamePid);
// The client's own signals only.
bool clientBeingDebugged();

// Anti-tamper check of the client process.
IntegrityIndicators checkIntegrity();
// Debug registers DR0-DR3 set on any of the client's own threads.
bool checkHardwareBreakpoints();

// Self-integrity value: CRC-32 of the client's executable file, 0 when it
// cannot be read.
std::uint32_t selfIntegrityValue();
// Whether the executable changed since the session began: both values are
// known (0 is "no value", never a change) and they differ.
bool selfIntegrityChanged(std::uint32_t initial, std::uint32_t current);

// Running-process check over every process of the machine.
std::vector<ProcessMD5Hit> scanRunningProcessesMD5();

// Memory check over the game's address space.
std::vector<MemoryScanHit> scanProcessMemory(std::uint32_t pid);

}  // namespace marvik
