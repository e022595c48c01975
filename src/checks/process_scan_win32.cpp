#include <windows.h>
#include <tlhelp32.h>

#include "base/process_flags.h"
#include "base/utf8_windows.h"
#include "checks/checks.h"
#include "checks/game_handles.h"
#include "checks/signatures.h"
#include "checks/text_match.h"
#include "checks/checks_windows.h"
#include "inventory/file_digests.h"
#include "inventory/game_process.h"

namespace marvik {

namespace {

// Bounds of one scan's hashing: files above the size limit are matched by
// name only; past the byte budget a file waits for a later scan (the cache
// makes the files already hashed free, so every file gets its turn).
constexpr ULONGLONG PROCESS_HASH_MAX_FILE = 64ull << 20;
constexpr ULONGLONG PROCESS_HASH_BUDGET = 256ull << 20;
constexpr int PROCESS_SCAN_MAX = 4096;

}  // namespace

std::vector<ProcessMD5Hit> scanRunningProcessesMD5() {
    std::vector<ProcessMD5Hit> hits;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return hits;
    const DWORD self = GetCurrentProcessId();
    std::uint64_t readBudget = PROCESS_HASH_BUDGET;
    int seen = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && seen < PROCESS_SCAN_MAX;
         more = Process32NextW(snapshot, &entry), ++seen) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self) continue;
        const std::string name = utf8FromWide(entry.szExeFile);
        const char* label = cheatProcessName(name);
        std::string path;
        std::string md5;
        if (label == nullptr) {
            path = processImagePath(entry.th32ProcessID);
            // System binaries are not hashed: nothing of a cheat tool's lives
            // there, and they are most of a machine's processes.
            if (path.empty() || inWindowsFolder(path)) continue;
            const FileStamp stamp = fileStamp(path);
            if (!stamp.known || stamp.size == 0 || stamp.size > PROCESS_HASH_MAX_FILE) continue;
            // Processes sharing one image (browsers, launchers) and files
            // unchanged since an earlier scan are not read again.
            md5 = cachedFileHashesWithin(path, stamp, readBudget).md5;
            if (md5.empty()) continue;
            label = knownCheatMD5(md5);
            if (label == nullptr) continue;
        } else {
            path = processImagePath(entry.th32ProcessID);
            if (!path.empty()) md5 = cachedFileHashes(path).md5;
        }
        ProcessMD5Hit hit;
        hit.pid = entry.th32ProcessID;
        hit.name = name;
        hit.path = path;
        hit.md5 = md5;
        hit.detection = label;
        hits.push_back(std::move(hit));
    }
    CloseHandle(snapshot);
    // Programs that read or write the game from outside, whatever their name.
    for (ProcessMD5Hit& hit : scanGameHandles(g_gamePID.load())) hits.push_back(std::move(hit));
    return hits;
}

}  // namespace marvik
