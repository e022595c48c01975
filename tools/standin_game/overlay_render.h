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

// The anti-virus-like hooks StartGuardHooks lays (see overlay_render.cpp).
constexpr int GUARD_MAX = 8;
struct GuardHooks {
    volatile long status;              // OverlayHookStatus
    int count;                         // exports hooked
    void* targets[GUARD_MAX];          // each hooked export
    const char* names[GUARD_MAX];
    void* trampolines[GUARD_MAX];      // by target index, for the pass-throughs
    void* regions[2];                  // the trampoline regions near ntdll and kernel32
    volatile long calls;
};

using StartOverlayHooksFn = void (*)();
using StartGuardHooksFn = const GuardHooks* (*)();
using OverlayHookStateFn = const OverlayHook* (*)();
// The second hook, OverlayMinHookState: d3d9!Direct3DCreate9Ex the way
// MinHook does it (see overlay_render.cpp); relay is the first stub the
// patched jump leads to.
using OverlayMinHookStateFn = const OverlayHook* (*)();

}  // namespace marvik
