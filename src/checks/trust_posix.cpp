#include "checks/trust_posix.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace marvik {

namespace {
std::mutex g_signaturesMutex;
ScriptedSignatures g_signatures;

SignatureCheck look(const char* kind, std::map<std::string, SignatureCheck> ScriptedSignatures::*table,
                    const std::string& path) {
    int ms = 0;
    SignatureCheck found;
    {
        std::lock_guard<std::mutex> lock(g_signaturesMutex);
        g_signatures.looks.push_back(std::string(kind) + " " + path);
        auto it = (g_signatures.*table).find(path);
        if (it != (g_signatures.*table).end()) found = it->second;
        ms = g_signatures.lookMs;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return found;
}
}  // namespace

void editScriptedSignatures(const std::function<void(ScriptedSignatures&)>& edit) {
    std::lock_guard<std::mutex> lock(g_signaturesMutex);
    edit(g_signatures);
}

ScriptedSignatures scriptedSignatures() {
    std::lock_guard<std::mutex> lock(g_signaturesMutex);
    return g_signatures;
}

SystemFolders systemFolders() {
    std::lock_guard<std::mutex> lock(g_signaturesMutex);
    return g_signatures.folders;
}

SignatureCheck embeddedSignature(const std::string& path) {
    return look("embedded", &ScriptedSignatures::embedded, path);
}

SignatureCheck catalogSignature(const std::string& path) { return look("catalog", &ScriptedSignatures::catalog, path); }

}  // namespace marvik
