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

// A hit per import entry of the executable (the first listed module) that
// holds neither its export nor an address in the module that export lies in,
// and leads (through relays) anywhere but into a trusted module:
// "Import hook <dll>!<function> -> <where>". At most 16. Each module's
// exports are read once, in one piece (at most 4 MiB and 0x10000 names), and
// forwarders followed at most 4 deep.
std::vector<MemoryScanHit> findImportHooks(const GameView& game);

}  // namespace marvik
