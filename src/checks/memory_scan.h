// The memory check's decisions, on a recorded map of the game's address
// space, so they can be tested on any machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checks/checks.h"

namespace marvik {

// The Windows values of the fields below that the checks look at.
constexpr std::uint32_t MEM_COMMIT_STATE = 0x1000;
constexpr std::uint32_t MEM_IMAGE_TYPE = 0x1000000;
constexpr std::uint32_t MEM_MAPPED_TYPE = 0x40000;
constexpr std::uint32_t MEM_PRIVATE_TYPE = 0x20000;
constexpr std::uint32_t PAGE_GUARD_FLAG = 0x100;
constexpr std::uint32_t PAGE_NOACCESS_FLAG = 0x01;

// One region as VirtualQueryEx describes it (the Windows values).
struct MemoryRegion {
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::uint64_t allocationBase = 0;
    std::uint32_t state = 0;    // MEM_COMMIT 0x1000
    std::uint32_t protect = 0;  // PAGE_* with modifiers
    std::uint32_t type = 0;     // MEM_IMAGE 0x1000000, MEM_MAPPED 0x40000, MEM_PRIVATE 0x20000
    bool peHeader = false;      // its first bytes are a PE image's headers
    bool systemFile = false;    // a view of a file in the Windows folder
};

bool isExecutableProtection(std::uint32_t protect);
bool isWritableExecutable(std::uint32_t protect);

// One hit per run of adjacent regions of one allocation with the same
// finding: PE headers outside any image (a module mapped by hand), and
// writable and executable pages of a module image. Executable memory
// outside images is judged by what it holds (findForeignCode), never by its
// protection alone: overlays keep their hook trampolines in
// read-write-execute blocks and JIT compilers their code in read-execute
// ones. Views of the system's own files are never foreign code, however the
// system mapped them.
std::vector<MemoryScanHit> classifyRegions(const std::vector<MemoryRegion>& regions);

// The labels that start the descriptions of the memory check's other
// methods; a detail follows each (a thread id, a module and an offset).
// Servers match on them, so they never change.
constexpr const char* LABEL_THREAD_IN_UNOWNED_CODE = "Thread in unowned code";
constexpr const char* LABEL_CODE_PATCH = "Code patch";
constexpr const char* LABEL_UNLINKED_MODULE = "Unlinked module";
constexpr const char* LABEL_MODULE_PATH_MISMATCH = "Module path mismatch";
constexpr const char* LABEL_HEADERLESS_IMAGE = "Headerless image in private memory";
constexpr const char* LABEL_LOADER_LIST_TAMPERED = "Loader list tampered";
constexpr const char* LABEL_FOREIGN_CODE = "Foreign code";
constexpr const char* LABEL_IMPORT_HOOK = "Import hook";
constexpr const char* LABEL_DATA_PATCH = "Read-only data patch";
// Not a range of memory: one of the client's checks of the game has hung in
// a call into it for ms milliseconds ("Check stalled: <check> for <n> s";
// address and size 0). A frozen game does that, and so does one that is
// made to blind the checks.
constexpr const char* LABEL_CHECK_STALLED = "Check stalled";
MemoryScanHit checkStalledHit(const char* check, std::uint32_t ms);

// Every description a memory report can carry or start with, in a fixed
// order.
std::vector<std::string> memoryReportLabels();

}  // namespace marvik
