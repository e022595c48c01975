// The detection checks' records and their portable decisions. The checks
// themselves, the calls over the game and the client, are listed with the
// rest of what the session asks of the game in inventory/game_process.h.
// Each is a plain call that returns what it found; none logs, sends or
// shows anything. A check that cannot do its work reports nothing found.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "inventory/loader_list.h"
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

// Module check: sets module.suspicious and module.detection. Called by
// scanProcessModules on every record, with the folder of the game's
// executable. A known cheat binary (by MD5) or module name gets its label; a
// DLL loaded from a temporary, download or recycled folder, other than the
// game's own folder and those below it, is flagged without one.
void checkModule(ModuleInfo& module, const std::string& gameFolder);
bool loadedFromUnusualFolder(const std::string& path, const std::string& gameFolder);

// The module baseline of a session: the game's modules as listed at
// session start, replaced whole after each module scan, read whole by the
// module-injection check on the heartbeat's side; hence its own lock.
struct ModuleBaseline {
    std::mutex mutex;
    std::vector<ModuleInfo> modules;
};
void replaceBaselineModules(ModuleBaseline& baseline, std::vector<ModuleInfo> modules);

// Module-injection check: a module of current whose full path (ASCII case
// ignored) the baseline does not hold. An empty current list gives false.
bool checkModuleInjection(ModuleBaseline& baseline, const std::vector<ModuleInfo>& current);
// The comparison itself, for any two lists.
bool hasModuleNotIn(const std::vector<ModuleInfo>& current, const std::vector<ModuleInfo>& baseline);

// The debugger check's reading of a process environment block of pointer
// width 4 or 8 at peb: BeingDebugged, or the heap debug flags a process
// started under a debugger gets. False when peb is 0 or nothing can be read.
bool pebShowsDebugger(const ReadMemory& read, std::uint64_t peb, int width);

// Whether the executable changed since the session began: both values are
// known (0 is "no value", never a change) and they differ.
bool selfIntegrityChanged(std::uint32_t initial, std::uint32_t current);

}  // namespace marvik
