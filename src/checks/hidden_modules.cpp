#include "checks/hidden_modules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "base/little_endian.h"
#include "checks/pe_image.h"
#include "checks/text_match.h"

namespace marvik {

namespace {

constexpr std::size_t DESCRIPTION_MAX = 63;
// Bounds what one allocation costs to read. Only executable memory outside
// images is read, which in a clean game is a few trampoline blocks and JIT
// pages; a module mapped whole has its import table after its code.
constexpr std::size_t MAX_BYTES_READ = std::size_t(16) << 20;

bool committed(const MemoryRegion& r) { return r.state == MEM_COMMIT_STATE; }
bool readable(const MemoryRegion& r) {
    return committed(r) && (r.protect & PAGE_GUARD_FLAG) == 0 && r.protect != PAGE_NOACCESS_FLAG;
}
bool executable(const MemoryRegion& r) { return readable(r) && isExecutableProtection(r.protect); }

std::string cutDescription(std::string text) {
    if (text.size() > DESCRIPTION_MAX) text.resize(DESCRIPTION_MAX);
    return text;
}

std::uint32_t clamp32(std::uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }

}  // namespace

std::vector<std::uint64_t> unlistedExecutableImages(const std::vector<MemoryRegion>& regions,
                                                    const std::vector<ListedModule>& listed) {
    std::set<std::uint64_t> bases;
    for (const ListedModule& m : listed) bases.insert(m.base);
    std::vector<std::uint64_t> found;
    for (const MemoryRegion& r : regions) {
        if (r.type != MEM_IMAGE_TYPE || !executable(r) || bases.count(r.allocationBase) != 0) continue;
        if (found.empty() || found.back() != r.allocationBase) found.push_back(r.allocationBase);
    }
    return found;
}

bool loadedToRun(const ReadMemory& read, std::uint64_t base, const std::vector<ListedModule>& listed) {
    std::uint8_t head[0x400];
    if (!read(base, head, sizeof head) || !looksLikePEHeader(head, sizeof head)) return true;
    int width = 0;
    std::uint32_t rva = 0, size = 0;
    if (!imageDirectory(read, base, PE_IMPORTS, width, rva, size)) return false;
    std::uint8_t descriptor[20];
    if (!read(base + rva, descriptor, sizeof descriptor)) return false;
    const std::uint32_t lookup = loadLe32(descriptor), addresses = loadLe32(descriptor + 16);
    std::uint64_t fileEntry = 0, entry = 0;
    if (lookup == 0 || addresses == 0 || !readPointer(read, base + lookup, width, fileEntry) ||
        !readPointer(read, base + addresses, width, entry))
        return false;
    return entry != fileEntry && moduleHolding(listed, entry) != nullptr;
}

MemoryScanHit unlinkedModuleHit(std::uint64_t base, std::uint64_t size, const std::string& mappedPath) {
    char address[24];
    std::snprintf(address, sizeof address, " 0x%llx", static_cast<unsigned long long>(base));
    const std::string name = fileNameOf(mappedPath).substr(0, DESCRIPTION_MAX - 16 - std::string(address).size());
    MemoryScanHit hit;
    hit.address = static_cast<std::uint32_t>(base);
    hit.size = clamp32(size);
    hit.description = std::string(LABEL_UNLINKED_MODULE) + " " + (name.empty() ? std::string("(unnamed)") : name) + address;
    return hit;
}

bool samePathText(const std::string& a, const std::string& b) {
    auto plain = [](std::string p) {
        std::replace(p.begin(), p.end(), '/', '\\');
        for (const char* prefix : {"\\\\?\\", "\\??\\"})
            if (p.compare(0, 4, prefix) == 0) p.erase(0, 4);
        return p;
    };
    return equalsIgnoreCase(plain(a), plain(b));
}

std::vector<MemoryScanHit> pathMismatchHits(const std::vector<ListedModule>& listed) {
    std::vector<MemoryScanHit> hits;
    for (const ListedModule& m : listed) {
        if (m.sameFile || m.mappedPath.empty()) continue;
        MemoryScanHit hit;
        hit.address = static_cast<std::uint32_t>(m.base);
        hit.size = m.size;
        hit.description =
            cutDescription(std::string(LABEL_MODULE_PATH_MISMATCH) + " " + fileNameOf(m.loaderPath) + " maps " + fileNameOf(m.mappedPath));
        hits.push_back(hit);
    }
    return hits;
}

bool loaderListTampered(const LoaderListEnd& end) {
    return end.shape == LoaderListShape::LOOPED || end.shape == LoaderListShape::TOO_LONG;
}

MemoryScanHit tamperedLoaderListHit(const LoaderListEnd& end) {
    char detail[64];
    if (end.shape == LoaderListShape::LOOPED)
        std::snprintf(detail, sizeof detail, ": loop at 0x%llx (%d-bit list)", static_cast<unsigned long long>(end.at),
                      end.width * 8);
    else
        std::snprintf(detail, sizeof detail, ": endless at 0x%llx (%d-bit list)",
                      static_cast<unsigned long long>(end.at), end.width * 8);
    MemoryScanHit hit;
    hit.address = static_cast<std::uint32_t>(end.at);
    hit.size = 0;
    hit.description = cutDescription(std::string(LABEL_LOADER_LIST_TAMPERED) + detail);
    return hit;
}

bool laidOutLikeImage(const std::vector<MemoryRegion>& allocation) {
    if (allocation.empty() || allocation[0].base != allocation[0].allocationBase || executable(allocation[0]))
        return false;
    bool code = false;
    for (std::size_t i = 1; i < allocation.size(); ++i) {
        if (executable(allocation[i])) code = true;
        else if (code && readable(allocation[i])) return true;
    }
    return false;
}

std::size_t importTableRun(const std::uint8_t* bytes, std::size_t length, int width,
                           const std::function<bool(std::uint64_t)>& isExport) {
    std::size_t best = 0, run = 0;
    const std::size_t step = static_cast<std::size_t>(width);
    for (std::size_t at = 0; at + step <= length; at += step) {
        const std::uint64_t value = width == 8 ? loadLe64(bytes + at) : loadLe32(bytes + at);
        if (value == 0) {
            best = std::max(best, run);
            run = 0;
        } else {
            run = isExport(value) ? run + 1 : 0;
        }
    }
    return best;
}

std::size_t sectionTableRemnants(const std::uint8_t* bytes, std::size_t length) {
    static const char* const NAMES[] = {".text", ".rdata", ".data", ".pdata", ".rsrc", ".reloc", ".idata",
                                        ".tls", ".bss", ".CRT", ".edata", "CODE", "DATA", ".textbss"};
    auto named = [&](std::size_t at) {
        for (const char* name : NAMES) {
            const std::size_t n = std::strlen(name);
            if (std::memcmp(bytes + at, name, n) == 0 && std::all_of(bytes + at + n, bytes + at + 8,
                                                                     [](std::uint8_t c) { return c == 0; }))
                return true;
        }
        return false;
    };
    std::size_t best = 0;
    for (std::size_t start = 0; start + 40 <= length; start += 8) {
        if (!named(start)) continue;
        std::size_t run = 0;
        for (std::size_t at = start; at + 40 <= length && named(at); at += 40) ++run;
        best = std::max(best, run);
    }
    return best;
}

std::vector<MemoryScanHit> findForeignCode(const std::vector<MemoryRegion>& regions,
                                           const std::vector<ListedModule>& listed, const ReadMemory& read,
                                           int width) {
    std::map<std::uint64_t, std::vector<std::uint64_t>> exports;  // by module base, read when first needed
    const auto isExport = [&](std::uint64_t address) {
        const ListedModule* m = moduleHolding(listed, address);
        if (m == nullptr) return false;
        auto known = exports.find(m->base);
        if (known == exports.end()) known = exports.emplace(m->base, exportAddresses(read, m->base)).first;
        return std::binary_search(known->second.begin(), known->second.end(), address);
    };

    std::vector<MemoryScanHit> hits;
    for (std::size_t i = 0; i < regions.size();) {
        std::size_t end = i + 1;
        while (end < regions.size() && regions[end].allocationBase == regions[i].allocationBase &&
               regions[end].base == regions[end - 1].base + regions[end - 1].size)
            ++end;
        const std::vector<MemoryRegion> allocation(regions.begin() + i, regions.begin() + end);
        i = end;
        const std::uint32_t type = allocation[0].type;
        if ((type != MEM_PRIVATE_TYPE && type != MEM_MAPPED_TYPE) || allocation[0].allocationBase == 0) continue;
        if (std::none_of(allocation.begin(), allocation.end(), executable)) continue;
        if (std::any_of(allocation.begin(), allocation.end(),
                        [](const MemoryRegion& r) { return r.peHeader || r.systemFile; }))
            continue;
        std::size_t run = 0, spent = 0, remnants = 0;
        // Data first: that is where a mapper that protects by section put
        // the import table.
        std::vector<MemoryRegion> order(allocation);
        std::stable_partition(order.begin(), order.end(), [](const MemoryRegion& r) { return !executable(r); });
        for (const MemoryRegion& r : order) {
            if (!readable(r) || spent >= MAX_BYTES_READ) continue;
            std::vector<std::uint8_t> bytes(std::min<std::uint64_t>(r.size, MAX_BYTES_READ - spent));
            spent += bytes.size();
            if (!read(r.base, bytes.data(), bytes.size())) continue;
            run = std::max(run, importTableRun(bytes.data(), bytes.size(), width, isExport));
            if (r.base == allocation[0].base) remnants = sectionTableRemnants(bytes.data(), std::min<std::size_t>(bytes.size(), 0x1000));
        }
        const bool imports = run >= MIN_IMPORT_TABLE_RUN, sectionNames = remnants >= 2;
        if (!imports && !sectionNames) continue;
        const MemoryRegion& last = allocation.back();
        const std::uint64_t extent = last.base + last.size - allocation[0].base;
        MemoryScanHit hit;
        hit.address = static_cast<std::uint32_t>(allocation[0].base);
        hit.size = clamp32(extent);
        const bool writableCode = std::any_of(allocation.begin(), allocation.end(), [](const MemoryRegion& r) {
            return executable(r) && isWritableExecutable(r.protect);
        });
        if (imports && type == MEM_PRIVATE_TYPE && !writableCode && laidOutLikeImage(allocation)) {
            hit.description = std::string(LABEL_HEADERLESS_IMAGE) + ", " + std::to_string(run) + " imports";
        } else {
            std::string evidence = imports ? std::to_string(run) + " imports" : std::string();
            if (sectionNames) evidence += std::string(imports ? ", " : "") + std::to_string(remnants) + " section names";
            hit.description = std::string(LABEL_FOREIGN_CODE) + ": " + evidence + ", " + std::to_string(extent >> 10) +
                              " KiB " + (type == MEM_PRIVATE_TYPE ? "private" : "mapped");
        }
        hit.description = cutDescription(hit.description);
        hits.push_back(hit);
    }
    return hits;
}

}  // namespace marvik
