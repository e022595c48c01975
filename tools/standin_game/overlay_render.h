// What the overlay-like DLL (overlay_render.dll, also signed as av_guard.dll
// and unsigned as render_hook.dll) tells the stand-in game about a set of
// its hooks, through its exports.
#pragma once

namespace marvik {

enum HookStatus : long { HOOKS_PENDING = 0, HOOKS_INSTALLED = 1, HOOKS_FAILED = -1 };

struct HookSet {
    volatile long status;  // HookStatus
    int count;             // functions hooked
    volatile long calls;   // calls that went through the hooks
    char error[96];
};

// StartOverlayHooks: a thread hooks d3d9!Direct3DCreate9 and
// Direct3DCreate9Ex once d3d9.dll is loaded; OverlayHooks(0) and (1) are
// their sets. StartGuardHooks: the anti-virus-like hooks, laid at once.
// HookDevice: the device's Present and Reset.
using StartOverlayHooksFn = void (*)();
using OverlayHooksFn = const HookSet* (*)(int which);
using StartGuardHooksFn = const HookSet* (*)();
using HookDeviceFn = const HookSet* (*)(void* device);

}  // namespace marvik
