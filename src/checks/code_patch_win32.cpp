#include <windows.h>
#include <psapi.h>

#include <map>
#include <mutex>
#include <tuple>

#include "checks/code_patch.h"
#include "checks/import_hooks.h"
#include "checks/trust.h"
#include "inventory/file_digests.h"

namespace marvik {

namespace {

constexpr std::uint64_t PAGE = 0x1000;
// When the system cannot say which pages were written (Wine), whole code
// sections are compared, at most this many bytes a pass, taking the modules
// in turn from where the last pass stopped.
constexpr std::uint64_t UNKNOWN_PAGES_BUDGET = 16ull << 20;
// Far above a cheat's few hooks; bounds the report of a module rewritten whole.
constexpr std::size_t MAX_HITS_PER_MODULE = 16;

// The code a file says a module must hold at its base, worked out once per
// file identity and base: reading and relocating the files every pass would
// be most of the check's cost.
struct ExpectedKey {
    std::uint64_t volume, index, size, writeTime, base;
    bool operator<(const ExpectedKey& o) const {
        return std::tie(volume, index, size, writeTime, base) <
               std::tie(o.volume, o.index, o.size, o.writeTime, o.base);
    }
};
struct Expected {
    ImageCode code;
    bool used = false;  // by the current pass
};
std::mutex g_codeMutex;
std::map<ExpectedKey, Expected> g_expectedCode;
std::size_t g_unknownCursor = 0;  // the module the next pass without page information starts at

const ImageCode* expectedCode(const ListedModule& m) {
    const FileStamp stamp = fileStamp(moduleFile(m));
    if (!stamp.known) return nullptr;
    const ExpectedKey key{stamp.volume, stamp.index, stamp.size, stamp.writeTime, m.base};
    auto found = g_expectedCode.find(key);
    if (found == g_expectedCode.end())
        found = g_expectedCode
                    .emplace(key, Expected{expectedImageCode(readWholeFile(moduleFile(m)), m.base,
                                                             readOnlyDataWatched(m.name)),
                                           false})
                    .first;
    found->second.used = true;
    return &found->second.code;
}

// The pages of [start, start + size) written since they were mapped, as
// runs of adjacent pages; false when the system cannot tell.
bool writtenSpans(HANDLE process, std::uint64_t start, std::uint64_t size,
                  std::vector<std::pair<std::uint64_t, std::uint64_t>>& spans) {
    const std::uint64_t first = start & ~(PAGE - 1);
    const std::size_t pages = static_cast<std::size_t>((start + size - first + PAGE - 1) / PAGE);
    std::vector<PSAPI_WORKING_SET_EX_INFORMATION> info(pages);
    for (std::size_t i = 0; i < pages; ++i)
        info[i].VirtualAddress = reinterpret_cast<void*>(static_cast<std::uintptr_t>(first + i * PAGE));
    if (!K32QueryWorkingSetEx(process, info.data(), static_cast<DWORD>(pages * sizeof info[0]))) return false;
    for (std::size_t i = 0; i < pages; ++i) {
        if (!pageWritten(info[i].VirtualAttributes.Flags)) continue;
        const std::uint64_t page = first + i * PAGE;
        if (!spans.empty() && spans.back().second == page)
            spans.back().second = page + PAGE;
        else
            spans.emplace_back(page, page + PAGE);
    }
    return true;
}

MemoryKind kindOf(HANDLE process, std::uint64_t address) {
    MEMORY_BASIC_INFORMATION info;
    if (static_cast<std::uintptr_t>(address) != address ||
        VirtualQueryEx(process, reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info) ==
            0 ||
        info.State != MEM_COMMIT)
        return MemoryKind::Free;
    return info.Type == MEM_IMAGE ? MemoryKind::Image : info.Type == MEM_MAPPED ? MemoryKind::Mapped
                                                                                 : MemoryKind::Private;
}

}  // namespace

std::vector<MemoryScanHit> scanCodePatches(ProcessHandle opened, std::uint32_t pid) {
    std::vector<MemoryScanHit> hits;
    HANDLE process = reinterpret_cast<HANDLE>(opened);
    GameView game;
    int width = 0;
    game.modules = listedModules(pid, true, width);
    if (game.modules.empty()) return hits;
    game.width = width == 8 ? CodeWidth::X64 : CodeWidth::X86;
    const std::string& exe = moduleFile(game.modules[0]);
    game.gameFolder = exe.substr(0, std::min(exe.size(), exe.find_last_of("\\/")));
    game.read = [process](std::uint64_t address, void* out, std::size_t size) {
        SIZE_T got = 0;
        return static_cast<std::uintptr_t>(address) == address &&
               ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), out,
                                 size, &got) &&
               got == size;
    };
    game.kindAt = [process](std::uint64_t address) { return kindOf(process, address); };
    // Asked only of a module a hook leads into; verified once per file.
    game.trusted = [](const ListedModule& m) { return moduleTrust(moduleFile(m)).trusted; };
    // Wine answers the working-set query only for the asking process, and
    // only through its pseudo handle; Windows answers for any process.
    HANDLE pages = pid == GetCurrentProcessId() ? GetCurrentProcess() : process;

    std::lock_guard<std::mutex> lock(g_codeMutex);
    for (auto& e : g_expectedCode) e.second.used = false;
    std::uint64_t budget = UNKNOWN_PAGES_BUDGET;
    const std::size_t count = game.modules.size();
    const std::size_t first = g_unknownCursor >= 1 && g_unknownCursor < count ? g_unknownCursor : 1;
    bool stoppedShort = false;
    for (std::size_t k = 0; k < count; ++k) {
        // The executable first (its format is the game's code width), then
        // the others from where the last pass ran out of budget.
        const std::size_t i = k == 0 ? 0 : 1 + (first - 1 + k - 1) % (count - 1);
        const ListedModule& m = game.modules[i];
        if (!codeWatched(m.name, i == 0)) continue;
        const ImageCode* code = expectedCode(m);
        if (code == nullptr || code->sections.empty()) continue;
        std::uint8_t header[0x400];
        if (!game.read(m.base, header, sizeof header) || !sameImage(*code, header, sizeof header)) continue;
        if (i == 0) game.width = code->pe64 ? CodeWidth::X64 : CodeWidth::X86;
        const std::uint64_t iat = m.base + code->iatRva;
        std::size_t found = 0;
        for (const CodeSection& section : code->sections) {
            const std::uint64_t start = m.base + section.rva, size = section.bytes.size();
            std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
            if (!writtenSpans(pages, start, size, spans)) {
                if (size > budget) {
                    if (!stoppedShort) g_unknownCursor = i;
                    stoppedShort = true;
                    continue;
                }
                budget -= size;
                spans.emplace_back(start, start + size);
            }
            for (const auto& span : spans) {
                const std::uint64_t from = std::max(span.first, start), to = std::min(span.second, start + size);
                if (from >= to) continue;
                std::vector<std::uint8_t> actual(static_cast<std::size_t>(to - from));
                if (!game.read(from, actual.data(), actual.size())) continue;
                const std::uint8_t* expected = section.bytes.data() + (from - start);
                for (const PatchRun& run :
                     differingRuns(expected, actual.data(), actual.size(), from, iat, iat + code->iatSize)) {
                    MemoryScanHit hit;
                    const bool finding = section.readOnlyData ? dataPatchFinding(game, i, run, hit)
                                                              : patchFinding(game, i, run, hit);
                    if (found < MAX_HITS_PER_MODULE && finding) {
                        hits.push_back(hit);
                        ++found;
                    }
                }
            }
        }
    }
    if (!stoppedShort) g_unknownCursor = 0;
    for (MemoryScanHit& hit : findImportHooks(game)) hits.push_back(std::move(hit));
    for (auto it = g_expectedCode.begin(); it != g_expectedCode.end();)
        it = it->second.used ? std::next(it) : g_expectedCode.erase(it);
    return hits;
}

}  // namespace marvik
