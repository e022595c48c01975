#include <windows.h>

#include <cstring>

#include "base/utf8_windows.h"
#include "checks/game_handles.h"
#include "checks/nt_query_windows.h"
#include "checks/text_match.h"
#include "checks/trust.h"
#include "inventory/file_digests.h"
#include "checks/checks_windows.h"

namespace marvik {

namespace {

constexpr ULONG SYSTEM_EXTENDED_HANDLE_INFORMATION = 64;
constexpr LONG STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<LONG>(0xC0000004);
constexpr std::size_t HANDLE_TABLE_MAX_BYTES = std::size_t(256) << 20;
// What one look at the handles may take, the table's read included; holders
// not reached by then wait for the next running-process check. A machine's
// table is read in a few milliseconds; what costs is opening holders and
// duplicating their handles where the table hides object addresses.
constexpr ULONGLONG GAME_HANDLES_BUDGET_MS = 250;

struct HandleEntryEx {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

std::string folderOf(UINT (WINAPI* get)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = get(folder, MAX_PATH);
    return n != 0 && n < MAX_PATH ? utf8FromWide(folder, n) : std::string();
}

bool systemHolder(const std::string& path) {
    static const std::string system = folderOf(GetSystemDirectoryW);
    static const std::string windows = folderOf(GetWindowsDirectoryW);
    return wellKnownSystemProcess(path, system, windows);
}

// Which process a handle of another process names: duplicated into the
// client for the moment, with no more than the right to ask.
std::uint32_t processNamedBy(HANDLE holder, std::uint64_t value) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(holder, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)), GetCurrentProcess(),
                         &copy, PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0))
        return 0;
    const DWORD pid = GetProcessId(copy);
    CloseHandle(copy);
    return pid;
}

}  // namespace

std::vector<SystemHandle> readHandleTable() {
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    static const Query query = ntdllFunction<Query>("NtQuerySystemInformation");
    std::vector<SystemHandle> table;
    if (query == nullptr) return table;
    std::vector<unsigned char> buffer;
    for (std::size_t size = std::size_t(1) << 18; size <= HANDLE_TABLE_MAX_BYTES;) {
        buffer.assign(size, 0);
        ULONG needed = 0;
        const LONG status = query(SYSTEM_EXTENDED_HANDLE_INFORMATION, buffer.data(), static_cast<ULONG>(size), &needed);
        if (status >= 0) break;
        buffer.clear();
        if (status != STATUS_INFO_LENGTH_MISMATCH_CODE) return table;
        // Handles are opened between two calls: room for more than asked.
        size = needed > size ? std::size_t(needed) + (std::size_t(1) << 16) : size * 2;
    }
    if (buffer.empty()) return table;
    const std::size_t header = 2 * sizeof(ULONG_PTR);
    ULONG_PTR count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    const std::size_t room = (buffer.size() - header) / sizeof(HandleEntryEx);
    if (count > room) count = room;
    table.reserve(count);
    const auto* entries = reinterpret_cast<const HandleEntryEx*>(buffer.data() + header);
    for (ULONG_PTR i = 0; i < count; ++i) {
        SystemHandle h;
        h.owner = static_cast<std::uint32_t>(entries[i].processId);
        h.value = entries[i].handleValue;
        h.access = entries[i].grantedAccess;
        h.type = entries[i].objectTypeIndex;
        h.object = reinterpret_cast<std::uintptr_t>(entries[i].object);
        table.push_back(h);
    }
    return table;
}

std::vector<ProcessMD5Hit> scanGameHandles(std::uint32_t gamePid) {
    std::vector<ProcessMD5Hit> hits;
    if (gamePid == 0) return hits;
    const ULONGLONG deadline = GetTickCount64() + GAME_HANDLES_BUDGET_MS;
    HANDLE own = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, gamePid);
    if (own == nullptr) return hits;
    const std::vector<SystemHandle> table = readHandleTable();
    const DWORD self = GetCurrentProcessId();
    SystemHandle ownEntry;
    bool found = false;
    for (const SystemHandle& h : table) {
        if (h.owner == self && h.value == reinterpret_cast<std::uintptr_t>(own)) {
            ownEntry = h;
            found = true;
            break;
        }
    }
    CloseHandle(own);
    if (!found) return hits;
    bool confirmed = false;
    const std::vector<SystemHandle> candidates = handlesToCheck(table, ownEntry, {0, 4, self, gamePid}, confirmed);
    // The candidates come grouped by holder, as the table lists them.
    for (std::size_t i = 0; i < candidates.size() && GetTickCount64() < deadline;) {
        const std::uint32_t owner = candidates[i].owner;
        std::size_t end = i;
        while (end < candidates.size() && candidates[end].owner == owner) ++end;
        const std::string path = processImagePath(owner);
        std::uint32_t rights = 0;
        if (!path.empty() && !systemHolder(path)) {
            HANDLE holder = confirmed ? nullptr : OpenProcess(PROCESS_DUP_HANDLE, FALSE, owner);
            for (std::size_t k = i; k < end; ++k)
                if (confirmed || (holder != nullptr && processNamedBy(holder, candidates[k].value) == gamePid))
                    rights |= candidates[k].access;
            if (holder != nullptr) CloseHandle(holder);
        }
        i = end;
        // Trust last: a signature is read from the whole file, once per file.
        if (riskyGameRights(rights) == 0 || moduleTrust(path).trusted) continue;
        ProcessMD5Hit hit;
        hit.pid = owner;
        hit.path = path;
        hit.name = fileNameOf(path);
        hit.md5 = cachedFileHashes(path).md5;
        hit.detection = gameHandleLabel(rights);
        hits.push_back(std::move(hit));
    }
    return hits;
}

}  // namespace marvik
