#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "base/exe_path.h"
#include "base/utf8.h"
#include "base/utf8_windows.h"
#include "checks/checks.h"
#include "checks/hidden_modules.h"
#include "checks/text_match.h"
#include "inventory/file_digests.h"
#include "inventory/game_process_windows.h"
#include "inventory/loader_list.h"

namespace marvik {

namespace {

// A game with more modules than this is listed with its first 1024.
constexpr std::size_t MODULE_TABLE_SIZE = 1024;

std::string narrow(const std::u16string& text) { return utf8FromUtf16(text); }

// What a module instance maps does not change while it stays loaded (a
// mapped image's file cannot be written): its file and that file's hashes
// are worked out once per base, size and loader path.
struct Instance {
    std::uint64_t base;
    std::uint32_t size;
    std::u16string path;
    bool operator<(const Instance& o) const {
        return std::tie(base, size, path) < std::tie(o.base, o.size, o.path);
    }
};

// The last walk of each game process, shared by the session's threads.
struct MappedFile {
    std::string path;  // cut where the system's calls would cut it
    bool hashable = false;  // a path too long to open is cut, and never hashed under the cut name
    FileStamp stamp;        // of the file hashed; unknown when it could not be opened
    std::uint32_t crc32 = 0;
    std::string md5;
    std::string loaderPath;  // the loader's, its system folder translated as path's is
    bool mappedKnown = false;  // path is what the system says is mapped, not the loader's path
    bool sameFile = true;      // loaderPath and path name one file
};
struct ProcessWalk {
    std::vector<std::pair<LoaderEntryKey, LoadedModule>> entries;
    std::map<Instance, MappedFile> files;
    int width = 0;
    // A 32-bit game's 64-bit loader list: the system's own 64-bit images
    // in every such process (ntdll and the WOW64 layer).
    std::vector<std::pair<LoaderEntryKey, LoadedModule>> nativeEntries;
    std::vector<LoadedModule> native;
    // How each walk ended: the game's own list, then the 64-bit one.
    LoaderListEnd ends[2];
};

// The file mapped at a module of a new instance, with its hashes. The
// record keeps a path cut where the system's own calls would cut it; a path
// that long cannot be opened, and is not hashed under a cut name.
MappedFile identify(ProcessHandle process, const LoadedModule& l, const Wow64View& game) {
    MappedFile f;
    const std::string loaderPath = narrow(l.path);
    const std::string mapped = mappedFileName(process, l.base);
    const std::string file = redirectSystemFolder(mapped.empty() ? loaderPath : mapped, game);
    f.loaderPath = redirectSystemFolder(loaderPath, game);
    f.mappedKnown = !mapped.empty();
    if (f.mappedKnown && !samePathText(f.loaderPath, file)) {
        // Short names, other drive letters for one folder: the same file by
        // another name is no mismatch.
        const FileStamp a = fileStamp(f.loaderPath), b = fileStamp(file);
        f.sameFile = a.known && b.known && a.volume == b.volume && a.index == b.index;
        // Nor is a copy of it: the system keeps identical copies of some
        // DLLs in two places (a side-by-side comctl32 beside the system
        // folder's), and the loader may name either. What a disguise needs
        // is a name whose file holds other code.
        if (!f.sameFile && a.known && b.known && a.size == b.size) {
            const FileHashes named = cachedFileHashes(f.loaderPath), mappedHashes = cachedFileHashes(file);
            f.sameFile = named.opened && mappedHashes.opened && named.md5 == mappedHashes.md5;
        }
    }
    if (!fitsSystemPath(file)) {
        f.path = file.substr(0, utf8Cut(file, MARVIK_MAX_PATH - 1));
        return f;
    }
    f.path = file;
    f.hashable = true;
    return f;
}

// A loaded module's file can still be renamed or deleted (a cheat does so
// once its DLL is in), and a file written since: it is asked for by name
// (size and write time, no open, no read). A file that is gone has no
// hashes; a changed one, or one back, is hashed again (the digest cache
// knows each content once).
void restamp(MappedFile& f) {
    if (!f.hashable) return;
    const FileStamp now = fileSizeAndTime(f.path);
    if (!now.known) {
        f.crc32 = 0;
        f.md5.clear();
        f.stamp = FileStamp{};
        return;
    }
    if (f.stamp.known && now.size == f.stamp.size && now.writeTime == f.stamp.writeTime) return;
    f.stamp = fileStamp(f.path);
    std::uint64_t unbounded = UINT64_MAX;
    const FileHashes hashes = cachedFileHashesWithin(f.path, f.stamp, unbounded);
    f.crc32 = hashes.crc32;
    f.md5 = hashes.md5;
}
std::mutex g_walkMutex;
std::map<std::uint32_t, ProcessWalk> g_walks;

}  // namespace

std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid, ModuleFiles look) {
    std::vector<ModuleInfo> modules;
    const ProcessHandle opened = openProcessForReading(pid);
    if (opened == 0) return modules;
    HANDLE process = reinterpret_cast<HANDLE>(opened);
    // The loader list the system's module enumeration walks is the one of
    // the game's own width.
    const Wow64View game = wow64View(process);
    const ReadMemory read = processReader(process);

    std::lock_guard<std::mutex> lock(g_walkMutex);
    // Only the game is walked; a new game starts afresh.
    for (auto it = g_walks.begin(); it != g_walks.end();) it = it->first == pid ? std::next(it) : g_walks.erase(it);
    ProcessWalk& walk = g_walks[pid];
    LoaderWalk own = walkLoaderList(read, game.peb, game.width, MODULE_TABLE_SIZE, walk.entries);
    const std::vector<LoadedModule>& loaded = own.modules;
    walk.ends[0] = own.end;
    walk.width = game.width;
    walk.ends[1] = LoaderListEnd{};
    if (game.nativePeb != 0) {
        LoaderWalk native = walkLoaderList(read, game.nativePeb, 8, MODULE_TABLE_SIZE, walk.nativeEntries);
        walk.native.swap(native.modules);
        walk.ends[1] = native.end;
    }
    std::map<Instance, MappedFile> mapped;
    std::string gameFolder;
    modules.reserve(loaded.size());
    for (const LoadedModule& l : loaded) {
        ModuleInfo m;
        m.name = narrow(l.name);
        m.size = l.imageSize;
        const Instance instance{l.base, l.imageSize, l.path};
        auto known = walk.files.find(instance);
        auto placed = mapped.find(instance);
        if (placed == mapped.end()) {
            const bool seen = known != walk.files.end();
            placed = mapped.emplace(instance, seen ? known->second : identify(opened, l, game)).first;
            if (!seen || look == ModuleFiles::STAMPED) restamp(placed->second);
        }
        const MappedFile& file = placed->second;
        m.path = file.path;
        m.crc32 = file.crc32;
        m.md5 = file.md5;
        // The name reported is that of the file reported (in the loader's
        // case when they agree). The loader's own can be anything: a cheat
        // rewrites it to pass for another DLL, and an entry read while the
        // game frees its DLL names whatever was allocated in its place. A
        // cut path keeps the loader's name, if it has one.
        const std::string fileName = fileNameOf(m.path);
        if (m.name.empty() || (file.hashable && !equalsIgnoreCase(m.name, fileName))) m.name = fileName;
        // The loader lists the executable first: its folder is the game's.
        if (modules.empty()) gameFolder = m.path.substr(0, std::min(m.path.size(), m.path.find_last_of("\\/")));
        checkModule(m, gameFolder);
        modules.push_back(std::move(m));
    }
    walk.files.swap(mapped);
    closeProcess(opened);
    return modules;
}

std::vector<LoaderListEnd> loaderListEnds(std::uint32_t pid) {
    std::lock_guard<std::mutex> lock(g_walkMutex);
    const auto found = g_walks.find(pid);
    if (found == g_walks.end()) return {};
    return std::vector<LoaderListEnd>(std::begin(found->second.ends), std::end(found->second.ends));
}

std::vector<ListedModule> listedModules(std::uint32_t pid, bool fresh, int& width) {
    bool walked = false;
    {
        std::lock_guard<std::mutex> lock(g_walkMutex);
        walked = g_walks.count(pid) != 0;
    }
    if (fresh || !walked) scanProcessModules(pid);
    std::vector<ListedModule> listed;
    std::lock_guard<std::mutex> lock(g_walkMutex);
    const auto found = g_walks.find(pid);
    if (found == g_walks.end()) return listed;
    const ProcessWalk& walk = found->second;
    width = walk.width;
    for (const auto& entry : walk.entries) {
        const LoadedModule& l = entry.second;
        ListedModule m;
        m.base = l.base;
        m.size = l.imageSize;
        m.name = narrow(l.name);
        const auto file = walk.files.find(Instance{l.base, l.imageSize, l.path});
        if (file != walk.files.end()) {
            m.loaderPath = file->second.loaderPath;
            if (file->second.mappedKnown) m.mappedPath = file->second.path;
            m.sameFile = file->second.sameFile;
        }
        listed.push_back(m);
    }
    for (const LoadedModule& l : walk.native) {
        ListedModule m;
        m.base = l.base;
        m.size = l.imageSize;
        m.name = narrow(l.name);
        m.loaderPath = narrow(l.path);
        listed.push_back(m);
    }
    return listed;
}

}  // namespace marvik
