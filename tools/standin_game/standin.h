// Shared by the stand-in game's files; its switches are the table in main.cpp.
#pragma once

#include <string>

#include "hooks.h"

namespace marvik {

template <typename Fn>
Fn exported(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

inline const IMAGE_NT_HEADERS* ntHeaders(const unsigned char* image) {
    const LONG offset = reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew;
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(image + offset);
}

std::string selfPath();
std::string exeFolder();
inline bool started(HANDLE thread) { return thread != nullptr && CloseHandle(thread); }
// Each of these sets up one switch's fixture; false, told on standard error, when it could not.
bool startRealistic();
void tickRealistic();                   // the unload and the late load when their time comes
void* createDirect3DDevice(void* d3d);  // the game's window and device from its IDirect3D9; null when it fails
const HookSet* startRenderHooks(const std::string& path);  // the DLL's two d3d9 hook sets, or null
bool patchCodeFixture(const std::string& command);                // fixtures_code.cpp
bool hookOwnImport();
bool hookDirect3DMethodTable();
bool retouchOwnCode();
bool unlinkModule(const std::string& dll);  // fixtures_hidden.cpp
bool spoofModulePath(const std::string& dll);
bool handMapOwnImage(DWORD whole);  // whole: one protection for all of it; 0: each section its own
bool loopLoaderList();
void unloopLoaderList();
bool loadResourceOnlyDlls();
bool startPrivateThread();  // fixtures_threads.cpp
bool armDr0();
bool suspendAll();
bool holdProcess(const std::string& exe, bool write);

}  // namespace marvik
