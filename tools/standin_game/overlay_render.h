// What the overlay-like DLL (overlay_render.dll) tells the stand-in game
// about its one hook, through its export OverlayHookState.
#pragma once

namespace marvik {

enum OverlayHookStatus : long { OVERLAY_PENDING = 0, OVERLAY_INSTALLED = 1, OVERLAY_FAILED = -1 };

struct OverlayHook {
    volatile long status;          // OverlayHookStatus
    void* target;                  // the hooked export (d3d9!Direct3DCreate9)
    void* block;                   // the private block holding trampoline and relay
    void* trampoline;              // saved original instructions, then a jump back
    void* relay;                   // x64: the stub the detour jumps to; x86: none
    void* hook;                    // the overlay's own function, in overlay_render.dll
    unsigned char saved[16];       // the original bytes the detour replaced
    unsigned savedLength;
    volatile long calls;           // calls that went through the hook
    char error[96];
};

// Detours-like hooks: the anti-virus-like ones StartGuardHooks lays, the
// device's HookDevice lays (see overlay_render.cpp).
constexpr int DETOUR_MAX = 8;
struct DetourHooks {
    volatile long status;              // OverlayHookStatus
    int count;                         // functions hooked
    void* targets[DETOUR_MAX];         // each hooked function
    const char* names[DETOUR_MAX];
    void* regions[2];                  // the trampoline regions (the guard's: near ntdll, near kernel32)
    volatile long calls;
};

using StartOverlayHooksFn = void (*)();
using StartGuardHooksFn = const DetourHooks* (*)();
using HookDeviceFn = const DetourHooks* (*)(void* device);
using OverlayHookStateFn = const OverlayHook* (*)();
// The second hook, OverlayMinHookState: d3d9!Direct3DCreate9Ex the way
// MinHook does it (see overlay_render.cpp); relay is the first stub the
// patched jump leads to.
using OverlayMinHookStateFn = const OverlayHook* (*)();

}  // namespace marvik
