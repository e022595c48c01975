// Shared by the stand-in game's files (see main.cpp for its switches).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "overlay_render.h"

namespace marvik {

// What the realistic mode's main loop still has to do: free the splash DLL
// and load the late one, each when its time comes.
struct RealisticGame {
    bool active = false;  // set up completely
    unsigned long long startTick = 0;
    HMODULE splash = nullptr;
    std::string latePath;
    bool lateLoaded = false;
};

std::string selfPath();
std::string exeFolder();

// Loads everything the realistic mode claims; false, with a message on
// standard error, when a piece the game ships (its DLLs, the overlay) fails.
bool startRealistic(RealisticGame& game);
// Called by the main loop: the unload and the late load when their time comes.
void tickRealistic(RealisticGame& game);
// The game's window and its IDirect3DDevice9 from the IDirect3D9 d3d, as the
// game makes them for its renderer; null when it cannot.
void* createDirect3DDevice(void* d3d);
// Loads the overlay-like DLL at path and has it hook d3d9 (loaded first);
// its hooks of Direct3DCreate9 and Direct3DCreate9Ex, or null, with a message,
// when either failed.
const HookSet* const* startRenderHooks(const std::string& path);

// n bytes of code in a private block allocated read-write, filled, then
// made read-execute, as loaders and hooking libraries leave theirs; null
// when that fails.
void* privateCode(const void* code, std::size_t n);
// n bytes written over memory of any protection, which is then put back.
bool overwrite(void* at, const void* bytes, std::size_t n);

// The code fixtures (fixtures_code.cpp); false when they failed.
bool patchCodeFixture(const std::string& command);
bool hookOwnImport();
bool hookDirect3DMethodTable();
// The realistic mode's rewrite of its own code with the same bytes.
bool retouchOwnCode();

// The hidden-module fixtures and the resource loads (fixtures_hidden.cpp);
// false when they could not be done.
bool unlinkModule(const std::string& dll);
bool spoofModulePath(const std::string& dll);
enum class HandMap { PER_SECTION, WHOLE_RX, WHOLE_RWX };
bool handMapOwnImage(HandMap how);
// The loop-loader fixture and its undoing at exit.
bool loopLoaderList();
void unloopLoaderList();
bool loadResourceOnlyDlls();

// The thread fixtures (fixtures_threads.cpp): "thread-private", a thread
// started in private read-execute memory, as shellcode started by
// CreateRemoteThread is, only sleeping; "dr0", DR0 armed by DR7 on a thread
// of the game's own at a data address as an execution breakpoint, which never
// fires; "suspend-all", every thread of the game suspended, the last by
// itself, as a cheat's loader (or a debugger) can leave it: only the end of
// the process ends it.
bool startPrivateThread();
bool armDr0();
bool suspendAll();

}  // namespace marvik
