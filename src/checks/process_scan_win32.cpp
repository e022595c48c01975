#include <windows.h>
#include <tlhelp32.h>

#include <mutex>

#include "app/globals.h"
#include "checks/checks.h"
#include "checks/game_handles.h"
#include "checks/digest_cache.h"
#include "checks/signatures.h"
#include "checks/text_match.h"
#include "inventory/game_process.h"
#include "inventory/hash.h"

namespace marvik {

namespace {

// Bounds of one scan's hashing: files above the size limit are matched by
// name only; past the byte budget a file waits for a later scan (the cache
// makes the files already hashed free, so every file gets its turn).
constexpr ULONGLONG PROCESS_HASH_MAX_FILE = 64ull << 20;
constexpr ULONGLONG PROCESS_HASH_BUDGET = 256ull << 20;
constexpr int PROCESS_SCAN_MAX = 4096;

struct FileStamp {
    ULONGLONG size = 0;
    ULONGLONG writeTime = 0;
};

FileStamp fileStamp(const std::string& path) {
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
    stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.writeTime =
        (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

// Only the heartbeat thread scans, one session at a time; the lock keeps
// the cache sound should that ever change.
std::mutex g_digestMutex;
DigestCache g_digests;

}  // namespace

std::vector<ProcessMD5Hit> scanRunningProcessesMD5() {
    std::vector<ProcessMD5Hit> hits;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return hits;
    const DWORD self = GetCurrentProcessId();
    std::lock_guard<std::mutex> lock(g_digestMutex);
    ULONGLONG hashed = 0;
    int seen = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && seen < PROCESS_SCAN_MAX;
         more = Process32Next(snapshot, &entry), ++seen) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self) continue;
        const std::string name = entry.szExeFile;
        const char* label = cheatProcessName(name);
        std::string path;
        std::string md5;
        if (label == nullptr) {
            path = processImagePath(entry.th32ProcessID);
            // System binaries are not hashed: nothing of a cheat tool's lives
            // there, and they are most of a machine's processes.
            if (path.empty() || inWindowsFolder(path)) continue;
            const FileStamp stamp = fileStamp(path);
            if (stamp.size == 0 || stamp.size > PROCESS_HASH_MAX_FILE) continue;
            // Processes sharing one image (browsers, launchers) and files
            // unchanged since an earlier scan are not read again.
            if (const std::string* known = cachedDigest(g_digests, path, stamp.size, stamp.writeTime)) {
                md5 = *known;
            } else {
                if (hashed + stamp.size > PROCESS_HASH_BUDGET) continue;
                hashed += stamp.size;
                md5 = fileMD5(path);
                rememberDigest(g_digests, path, stamp.size, stamp.writeTime, md5);
            }
            label = knownCheatMD5(md5);
            if (label == nullptr) continue;
        } else {
            path = processImagePath(entry.th32ProcessID);
            if (!path.empty()) md5 = fileMD5(path);
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
    endDigestScan(g_digests);
    // Programs that read or write the game from outside, whatever their name.
    for (ProcessMD5Hit& hit : scanGameHandles(g_gamePID.load())) hits.push_back(std::move(hit));
    return hits;
}

}  // namespace marvik
