// Patched game code: the decisions of the memory check's comparison of
// code in memory with the files it was loaded from, on recorded bytes, so
// they can be tested on any machine. The Windows calls that gather the
// bytes are in code_patch_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/code_check.h"
#include "inventory/game_process.h"
#include "inventory/loader_list.h"
#include "inventory/modules.h"

namespace marvik {

// Whether a module's code is compared with its file: the game's executable,
// and the modules whose functions cheats detour (graphics, input, and the
// system calls beneath timing, networking and memory access).
bool codeWatched(const std::string& moduleName, bool isGameExecutable);
// Whether its read-only data is compared too: the graphics modules, whose
// interfaces' method tables (IDirect3DDevice9's Present, EndScene, ...)
// live there, and which a cheat redirects without touching code.
bool readOnlyDataWatched(const std::string& moduleName);

// Whether a page of an image has been written by the process, from its
// working-set attributes (PSAPI_WORKING_SET_EX_BLOCK): a written page of a
// file-backed image is a private copy, no longer shared.
bool pageWritten(std::uint64_t workingSetAttributes);

// A run of code bytes that differ from the file.
struct PatchRun {
    std::uint64_t address = 0;
    std::uint32_t length = 0;
};
// Differences closer than this many equal bytes are one patch: a jump's
// displacement may happen to keep a byte of what it replaced.
constexpr std::size_t PATCH_JOIN_GAP = 4;
// The runs where actual differs from expected, both n bytes of code that
// starts at address; bytes in [skipFrom, skipTo) (the import address table,
// which the loader writes) are not compared.
std::vector<PatchRun> differingRuns(const std::uint8_t* expected, const std::uint8_t* actual, std::size_t n,
                                    std::uint64_t address, std::uint64_t skipFrom, std::uint64_t skipTo);

enum class MemoryKind { Free, Private, Mapped, Image };

// What the decision may look at in the game.
struct GameView {
    std::vector<ListedModule> modules;  // the loader list, the executable first
    std::string gameFolder;
    CodeWidth width = CodeWidth::X86;
    ReadMemory read;                                  // the game's memory
    std::function<MemoryKind(std::uint64_t)> kindAt;  // what kind of memory holds an address
    // Whether a hook may lead into a module (an overlay's, an anti-virus
    // product's): the Windows build asks the module's signature; unset (the
    // native tests' recorded games): any module not loaded from a temporary
    // or download folder outside the game's.
    std::function<bool(const ListedModule&)> trusted;
};

// Where a transfer to target finally leads: the listed module it lands in,
// relay stubs in memory no module owns followed (at most three: a hooking
// library's own and a couple more), with the landing address; null when it
// stays outside every module.
const ListedModule* hookDestination(const GameView& game, std::uint64_t target, std::uint64_t& landing);
// Whether a hook ending in into is innocent: into is trusted.
bool trustedHookEnd(const GameView& game, const ListedModule* into);
// Where a hook ends, for a description: a module and "+0x<offset>" (then
// " unsigned" when trust is decided and the module is not trusted), or the
// kind of memory and " 0x<address>" the first jump leads to ("private").
struct HookEnd {
    std::string name;
    std::string rest;
};
HookEnd hookEnd(const GameView& game, std::uint64_t target, std::uint64_t landing, const ListedModule* into);

// The memory hit for a patch of the listed module, or false when it is not
// a finding: a jump or call that leads (directly or through relay stubs in
// memory no module owns) into another listed module not loaded from a
// temporary or download folder outside the game's, as overlays detour the
// graphics API. The description names the module and offset first, then,
// for a jump or call, the module or memory it leads to.
bool patchFinding(const GameView& game, std::size_t module, const PatchRun& run, MemoryScanHit& hit);
// The same for a run in the module's read-only data: the pointer the run
// falls in, where it leads now. Not a finding when it leads into a trusted
// module. "Read-only data patch <name>+0x<offset> -> <where>", or
// "(<n> bytes)" when what changed is no pointer into anything listed or
// allocated.
bool dataPatchFinding(const GameView& game, std::size_t module, const PatchRun& run, MemoryScanHit& hit);

// Whether a module's header in memory (n bytes read at its base) names the
// image the file describes: same link time, image size and entry point. A
// module that was not mapped from the file found for it is not compared.
bool sameImage(const ImageCode& file, const std::uint8_t* header, std::size_t n);

// The patches in the code of the game's watched modules (Windows build).
std::vector<MemoryScanHit> scanCodePatches(ProcessHandle process, std::uint32_t pid);

}  // namespace marvik
