#include "checks/memory_scan.h"

#include "app/little_endian.h"

#include <cstring>

namespace marvik {

namespace {


enum class Finding { None, PEInPrivate, RWXPrivate, ExecMapped, RWXImage };

// The description each finding puts into its memory report. A server
// plug-in may key on these texts, so they only ever grow: a new finding adds
// a line here (docs/protocol.md lists them, and a test compares the two).
struct FindingText {
    Finding finding;
    const char* text;
};
constexpr FindingText FINDING_TEXTS[] = {
    {Finding::PEInPrivate, "PE image in private memory (module mapped by hand)"},
    // Retired: protection alone is no evidence (findForeignCode). Kept so
    // that the texts never come back with another meaning.
    {Finding::RWXPrivate, "private writable and executable memory"},
    {Finding::ExecMapped, "executable mapped memory not backed by an image"},
    {Finding::RWXImage, "writable and executable page in a module image"},
};

const char* describe(Finding f) {
    for (const FindingText& t : FINDING_TEXTS)
        if (t.finding == f) return t.text;
    return "";
}

Finding classify(const MemoryRegion& r) {
    if (r.state != MEM_COMMIT_STATE) return Finding::None;
    if ((r.protect & PAGE_GUARD_FLAG) != 0 || r.protect == PAGE_NOACCESS_FLAG) return Finding::None;
    const bool exec = isExecutableProtection(r.protect);
    const bool rwx = isWritableExecutable(r.protect);
    if (r.type != MEM_IMAGE_TYPE) {
        if (r.systemFile) return Finding::None;
        // A DLL mapped as a data file (for its resources) has headers in a
        // read-only view; only headers in private or executable memory are
        // a module that bypassed the loader.
        if (r.peHeader && (r.type == MEM_PRIVATE_TYPE || exec)) return Finding::PEInPrivate;
        return Finding::None;
    }
    return rwx ? Finding::RWXImage : Finding::None;
}

std::uint32_t clamp32(std::uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }

}  // namespace

bool isExecutableProtection(std::uint32_t protect) { return (protect & 0xF0) != 0; }
bool isWritableExecutable(std::uint32_t protect) { return (protect & 0xC0) != 0; }  // EXECUTE_READWRITE, _WRITECOPY

std::vector<MemoryScanHit> classifyRegions(const std::vector<MemoryRegion>& regions) {
    std::vector<MemoryScanHit> hits;
    Finding last = Finding::None;
    std::uint64_t lastAllocation = 0, lastEnd = 0, start = 0;
    for (const MemoryRegion& r : regions) {
        Finding f = classify(r);
        // A hand-mapped module's later sections continue its header's hit,
        // whatever each of them would be on its own.
        if (last == Finding::PEInPrivate && r.state == MEM_COMMIT_STATE && r.allocationBase == lastAllocation &&
            r.base == lastEnd)
            f = Finding::PEInPrivate;
        if (f != Finding::None && f == last && r.allocationBase == lastAllocation && r.base == lastEnd) {
            lastEnd = r.base + r.size;
            hits.back().size = clamp32(lastEnd - start);
            continue;
        }
        last = f;
        if (f == Finding::None) continue;
        start = r.base;
        lastAllocation = r.allocationBase;
        lastEnd = r.base + r.size;
        MemoryScanHit hit;
        // The game is a 32-bit process; in a 64-bit one the low half of the
        // address is reported, the description names the range in full.
        hit.address = static_cast<std::uint32_t>(r.base);
        hit.size = clamp32(r.size);
        hit.description = describe(f);
        hits.push_back(hit);
    }
    return hits;
}

MemoryScanHit checkStalledHit(const char* check, std::uint32_t ms) {
    MemoryScanHit hit;
    hit.description = std::string(LABEL_CHECK_STALLED) + ": " + check + " for " + std::to_string(ms / 1000) + " s";
    return hit;
}

std::vector<std::string> memoryReportLabels() {
    std::vector<std::string> labels;
    for (const FindingText& t : FINDING_TEXTS) labels.push_back(t.text);
    for (const char* label : {LABEL_THREAD_IN_UNOWNED_CODE, LABEL_CODE_PATCH, LABEL_UNLINKED_MODULE,
                              LABEL_MODULE_PATH_MISMATCH, LABEL_HEADERLESS_IMAGE, LABEL_LOADER_LIST_TAMPERED,
                              LABEL_CHECK_STALLED, LABEL_FOREIGN_CODE, LABEL_IMPORT_HOOK,
                              LABEL_DATA_PATCH})
        labels.push_back(label);
    return labels;
}

}  // namespace marvik
