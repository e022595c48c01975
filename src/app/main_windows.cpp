// Process entry: one instance per Windows session, the tray icon, the
// monitor thread, the message loop, and an orderly shutdown.
#include <windows.h>
#include <commctrl.h>

#include "app/monitor_windows.h"
#include "base/process_flags.h"
#include "base/test_hold.h"
#include "base/version.h"
#include "report/log.h"
#include "report/tray_windows.h"
#include "session/session_link.h"
#include "ui/main_window_windows.h"
#include "ui/splash_windows.h"

namespace marvik {

HINSTANCE g_hInstance = nullptr;
HICON g_hIcon = nullptr;

// The stop is prompt: the monitor's pauses end at once and its teardown
// waits half a second for the workers; what is still inside a call into the
// game by then is ended with the process.
constexpr DWORD MONITOR_SHUTDOWN_WAIT_MS = 1500;

static HICON loadAppIcon(HINSTANCE instance) {
    HICON icon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_APPICON),
                                               IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    return icon != nullptr ? icon : LoadIcon(nullptr, IDI_APPLICATION);
}

static int runClient(HINSTANCE instance) {
    g_hInstance = instance;
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Marvik_AntiCheat_Mutex_v32");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxA(nullptr, "Marvik AntiCheat is already running!", "Marvik AC",
                    MB_OK | MB_ICONINFORMATION);
        if (mutex != nullptr) CloseHandle(mutex);
        return 0;
    }
    logInit();
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    g_hIcon = loadAppIcon(instance);
    showSplash(instance);

    HWND mainWindow = createMainWindow(instance);
    initTrayRecord(mainWindow, g_hIcon);
    addTrayIcon();

    HANDLE monitor = CreateThread(nullptr, 0, acMainThread, nullptr, 0, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (g_hSplashWnd != nullptr && IsWindow(g_hSplashWnd) && IsDialogMessageA(g_hSplashWnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    requestProgramStop();
    bool monitorEnded = true;
    if (monitor != nullptr) {
        monitorEnded = WaitForSingleObject(monitor, MONITOR_SHUTDOWN_WAIT_MS) == WAIT_OBJECT_0;
        CloseHandle(monitor);
    }
    if (!monitorEnded) logStoppedLine();
    logShutdown();
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    // Returning would run the static destructors (the module baseline, the
    // digest cache, the configuration strings) under any thread still using
    // them. A thread stuck in a system call gets no say: end the process
    // here, threads and all, with the same exit code.
    if (!monitorEnded || g_liveWorkers.load() != 0) TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

}  // namespace marvik

#ifdef MARVIK_TEST_HOOKS
namespace marvik::test {
void installTestHold();
}
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef MARVIK_TEST_HOOKS
    marvik::test::installTestHold();
#endif
    return marvik::runClient(instance);
}
