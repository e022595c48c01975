#include "checks/trust.h"

#include <map>
#include <mutex>
#include <utility>

#include "checks/text_match.h"
#include "inventory/file_digests.h"

namespace marvik {

namespace {

struct KnownTrust {
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0;
    ModuleTrust trust;
};

// Far more files than a game loads in a session; past it the cache starts
// over rather than grow without end.
constexpr std::size_t TRUST_CACHE_MAX = 4096;

std::mutex g_trustMutex;  // the cache
std::map<std::pair<std::uint64_t, std::uint64_t>, KnownTrust> g_trust;  // by (volume, index)
// One verification at a time: a thread that needs a file another thread is
// verifying waits for that result instead of reading the file again, and a
// thread whose files are all known never waits behind a verification.
std::mutex g_verifyMutex;

bool cached(const FileStamp& stamp, ModuleTrust& trust) {
    std::lock_guard<std::mutex> lock(g_trustMutex);
    auto found = g_trust.find({stamp.volume, stamp.index});
    if (found == g_trust.end() || found->second.size != stamp.size || found->second.writeTime != stamp.writeTime)
        return false;
    trust = found->second.trust;
    return true;
}

ModuleTrust verifySignature(const std::string& path) {
    const SignatureCheck embedded = embeddedSignature(path);
    return decideTrust(false, embedded, embedded.valid ? SignatureCheck{} : catalogSignature(path));
}

}  // namespace

bool directlyInFolder(const std::string& path, const std::string& folder) {
    std::string dir = folder;
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    if (!underFolder(path, dir)) return false;
    const std::string name = path.substr(dir.size() + 1);
    return !name.empty() && name.find_first_of("\\/") == std::string::npos && name != "." && name != "..";
}

ModuleTrust decideTrust(bool systemModule, const SignatureCheck& embedded, const SignatureCheck& catalog) {
    ModuleTrust trust;
    trust.systemModule = systemModule;
    const SignatureCheck& valid = embedded.valid ? embedded : catalog;
    trust.signedValid = valid.valid;
    if (trust.signedValid) trust.signer = valid.signer;
    trust.trusted = trust.systemModule || trust.signedValid;
    return trust;
}

ModuleTrust moduleTrust(const std::string& path) {
    const FileStamp stamp = fileStamp(path);
    if (!stamp.known) return ModuleTrust{};
    // A system module needs no signature read: the system's own files are
    // signed through catalogs, the slowest check of all. Decided by the
    // path on every call, so the cache below holds what the file's content
    // alone decides, whatever name it was reached by.
    const SystemFolders folders = systemFolders();
    if (directlyInFolder(path, folders.system) || directlyInFolder(path, folders.wow64))
        return decideTrust(true, {}, {});
    ModuleTrust trust;
    if (cached(stamp, trust)) return trust;
    std::lock_guard<std::mutex> verifying(g_verifyMutex);
    if (cached(stamp, trust)) return trust;  // verified while this thread waited
    trust = verifySignature(path);
    std::lock_guard<std::mutex> lock(g_trustMutex);
    if (g_trust.size() >= TRUST_CACHE_MAX) g_trust.clear();
    g_trust[{stamp.volume, stamp.index}] = KnownTrust{stamp.size, stamp.writeTime, trust};
    return trust;
}

}  // namespace marvik
