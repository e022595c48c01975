// Hooks that touch no code: an entry of the game executable's import
// address table that no longer holds the export it names. The loader fills
// each entry with the address of the function the import names (following
// a forwarder to its end); a cheat swaps it for its own stub, and every call
// the game makes through it goes there. Decisions on the game's memory as a
// reader gives it, so they can be tested on any machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/code_patch.h"

namespace marvik {

// One import of the executable: the DLL and function it names ("#<n>" for
// an ordinal), where its address entry lies and what the entry holds.
struct ImportSlot {
    std::string dll;
    std::string function;
    std::uint64_t slot = 0;
    std::uint64_t value = 0;
};

// The imports of the image at base, from its headers and tables in memory.
// Bounded whatever the game wrote: at most 512 descriptors and 4096 entries
// each, names of at most 255 characters.
std::vector<ImportSlot> readImports(const ReadMemory& read, std::uint64_t base, int width);

// The address the export named resolves to in the module at base, its
// forwarders followed (at most 4, each to a listed module); 0 when it cannot
// be resolved. At most 0x10000 names are searched.
std::uint64_t resolveExport(const GameView& game, std::uint64_t base, const std::string& function, int hops = 0);

// A hit per import entry of the executable (the first listed module) that
// holds neither its export nor an address in the module that export lies in,
// and leads (through relays) anywhere but into a trusted module:
// "Import hook <dll>!<function> -> <where>". At most 16.
std::vector<MemoryScanHit> findImportHooks(const GameView& game);

}  // namespace marvik
