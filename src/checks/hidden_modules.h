// Code the loader list does not account for: image memory no listed module
// starts at (a DLL unlinked from the list), a module whose mapped file is
// not the one the loader names, and a module copied into private memory
// with its headers wiped. Decisions on a recorded map of the game's memory
// and a reader of its bytes, so they can be tested on any machine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/memory_scan.h"
#include "checks/pe_image.h"
#include "inventory/loader_list.h"

namespace marvik {

// Allocation bases of image memory with executable pages at which no listed
// module starts. An image mapped for its resources only (LoadLibraryEx as
// an image resource) is not executable on Windows; Wine maps it with its
// sections' own protections, so it needs loadedToRun below as well.
std::vector<std::uint64_t> unlistedExecutableImages(const std::vector<MemoryRegion>& regions,
                                                    const std::vector<ListedModule>& listed);

// Whether the image at base was loaded to run rather than mapped for its
// resources: a loader bound its imports (its first import's address entry
// no longer holds the file's lookup entry but an address inside a listed
// module), or its headers are no longer a PE image's (wiped to hide it;
// a resource mapping keeps them). An intact image without imports gives
// false.
bool loadedToRun(const ReadMemory& read, std::uint64_t base, const std::vector<ListedModule>& listed);

// "Unlinked module <file name> 0x<base>".
MemoryScanHit unlinkedModuleHit(std::uint64_t base, std::uint64_t size, const std::string& mappedPath);

// Whether two paths name one file by their text alone: ASCII case, '/' for
// '\\' and the "\\\\?\\" and "\\??\\" prefixes ignored.
bool samePathText(const std::string& a, const std::string& b);
// "Module path mismatch <loader's file name> maps <mapped file name>", for
// each listed module whose mapped file is known and not the loader's.
std::vector<MemoryScanHit> pathMismatchHits(const std::vector<ListedModule>& listed);

// A private allocation laid out like a mapped image: its first page not
// executable (the headers' place), then executable pages, then
// non-executable ones (code, then read-only data and data). A JIT's code
// pages or an overlay's trampolines start at their allocation and do not
// have this shape.
bool laidOutLikeImage(const std::vector<MemoryRegion>& allocation);
// The longest run of pointers of the given width in bytes (aligned to it)
// that are each an export of a loaded module and ended by a zero pointer:
// the shape of an import address table the loader (or a hand mapper) filled.
std::size_t importTableRun(const std::uint8_t* bytes, std::size_t length, int width,
                           const std::function<bool(std::uint64_t)>& isExport);

// Executable memory outside every image, judged by what it holds and never
// by its protection alone: overlays keep their hook trampolines in private
// read-write-execute blocks, JIT compilers their code in read-execute ones,
// and a cheat's hand-mapped module may be left either way. An allocation of
// private or mapped memory with a committed executable region (a view of a
// system file aside) is foreign code when it holds what only a module brings:
//   - an import table: at least MIN_IMPORT_TABLE_RUN pointers in a row, each
//     an export of a loaded module, ended by a null (a loader or a hand
//     mapper bound them);
//   - PE remnants: its first page still holds at least two entries of a
//     section table (".text", ".rdata", ...) where the headers were wiped.
// One hit per allocation: "Headerless image in private memory, <n> imports"
// for one laid out like an image (a careful mapper's section by section
// protections), else "Foreign code: <evidence>, <size> KiB <private|mapped>".
// Allocations whose headers are whole are the PE-header rule's. Reads at most
// 16 MiB of each allocation, and each module's exports once.
constexpr std::size_t MIN_IMPORT_TABLE_RUN = 4;
std::vector<MemoryScanHit> findForeignCode(const std::vector<MemoryRegion>& regions,
                                           const std::vector<ListedModule>& listed, const ReadMemory& read, int width);
// How many 40-byte section-table entries in a row, from where the first
// known section name stands, bytes hold: the part of a PE header a wiper
// that clears only "MZ" and "PE" leaves.
std::size_t sectionTableRemnants(const std::uint8_t* bytes, std::size_t length);

// Whether a walk of a loader list ended as only a hand-made list does (a
// loop, or more entries than any game has), and its hit:
// "Loader list tampered: loop at 0x<entry> (<32|64>-bit list)" or
// "...: endless at 0x<entry> (...)".
bool loaderListTampered(const LoaderListEnd& end);
MemoryScanHit tamperedLoaderListHit(const LoaderListEnd& end);

// The methods above over the game's memory, whose regions the memory check
// has just walked (hidden_modules_win32.cpp); process is open for reading.
std::vector<MemoryScanHit> scanHiddenModules(std::uint32_t pid, std::uintptr_t process,
                                             const std::vector<MemoryRegion>& regions);

}  // namespace marvik
