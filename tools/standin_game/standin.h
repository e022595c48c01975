// Shared by the stand-in game's files: what the realistic mode set up, for
// the loop that finishes it and for the self-report.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "overlay_render.h"

namespace marvik {

struct RealisticGame {
    bool active = false;                       // set up completely
    unsigned lateLoadSeconds = 20;
    unsigned unloadSeconds = 5;
    unsigned long long startMs = 0;            // when the realistic mode began, since the process start
    std::vector<std::string> missingSystemDlls;  // not in this Windows (or this Wine prefix)
    const OverlayHook* overlay = nullptr;
    const OverlayHook* minHook = nullptr;        // the MinHook-like hook of Direct3DCreate9Ex
    const DetourHooks* guard = nullptr;          // the anti-virus-like DLL's hooks
    void* device = nullptr;                      // the game's IDirect3DDevice9
    const DetourHooks* deviceHooks = nullptr;    // the overlay's hooks of its Present and Reset
    long d3dExResult = 0;                        // what Direct3DCreate9Ex returned through it
    void* d3d = nullptr;                       // what Direct3DCreate9 returned through the hook
    unsigned char* jit = nullptr;              // the JIT-like region and its functions
    std::vector<int (*)(int)> jitFunctions;
    std::string splashPath;                    // loaded at start, freed unloadSeconds later
    HMODULE splash = nullptr;
    unsigned long long splashLoadedMs = 0;
    unsigned long long splashFreedMs = 0;
    std::string latePath;                      // loaded lateLoadSeconds after the start
    unsigned long long lateLoadedMs = 0;
};

// Where a code-nop or code-detour command patched code, and the private
// block a detour leads to (none for the NOPs).
struct CodeFixture {
    void* at = nullptr;
    void* target = nullptr;
};

// The stand-in's own state: the realistic mode and the code --patch rewrites.
struct StandinGame {
    RealisticGame realistic;
    void* patchTarget = nullptr;
    CodeFixture codeNop;
    CodeFixture codeDetour;
    const OverlayHook* cheatHook = nullptr;  // --unsigned-hook: render_hook.dll's hooks of d3d9
    const OverlayHook* cheatMinHook = nullptr;
};

unsigned long long msSinceProcessStart();
// Runs code-nop or code-detour (fixtures_code.cpp); false when it failed.
bool patchCodeFixture(const std::string& command, CodeFixture& out);
// The executable's import entry of kernel32!Sleep made to lead to a private stub.
bool hookOwnImport();
// The Direct3D 9 device's method table entry for Present led to a private stub.
bool hookDirect3DMethodTable();
// The realistic mode's rewrite of its own code with the same bytes.
bool retouchOwnCode();
std::string exeFolder();

// Loads everything the realistic mode claims; false, with a message on
// standard error, when a piece the game ships (its DLLs, the overlay) fails.
bool startRealistic(RealisticGame& game);
// The game's window and its IDirect3DDevice9 from the IDirect3D9 d3d, as the
// game makes them for its renderer; null when it cannot.
void* createDirect3DDevice(void* d3d);
// Loads the overlay-like DLL at path and has it hook d3d9 (loaded first);
// false, with a message, when it did not hook.
bool startRenderHooks(const std::string& path, const OverlayHook*& hook, const OverlayHook*& minHook);
// What the JIT-like region's function i returns for x.
int jitExpected(int i, int x);
// Called by the main loop: the unload and the late load when their time comes.
void tickRealistic(RealisticGame& game);
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
// Writes what the process looks like from inside (modules, executable memory
// outside modules, the pieces above) to path.
void writeReport(const std::string& path, const StandinGame& game);

}  // namespace marvik
