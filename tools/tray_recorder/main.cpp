// tray_recorder <output file>: stands in for the shell's notification area in tests until killed. It owns a
// "Shell_TrayWnd" window, so Shell_NotifyIcon calls of programs started after it reach it: under Wine as
// WM_COPYDATA, the operation (NIM_*) and the record in Wine's own layout, the icon's size and pixels after it.
// It writes "ready", then a line per call: <tick count in ms> TAB <operation> TAB <the record's bytes in hex>, which
// tests/system/harness.py decodes.
#include <windows.h>

#include <cstdio>

namespace {

std::FILE* g_out = nullptr;

LRESULT CALLBACK trayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_COPYDATA) return DefWindowProcW(hwnd, msg, wParam, lParam);
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
    std::fprintf(g_out, "%lu\t%lu\t", static_cast<unsigned long>(GetTickCount()),
                 static_cast<unsigned long>(cds->dwData));
    for (DWORD i = 0; bytes != nullptr && i < cds->cbData; ++i) std::fprintf(g_out, "%02x", bytes[i]);
    std::fprintf(g_out, "\n");
    std::fflush(g_out);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (g_out = std::fopen(argv[1], "w")) == nullptr) return 2;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = trayProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&wc);
    // Topmost, so a search for the class meets this window before the desktop's own tray window.
    HWND tray = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (tray == nullptr) return 3;
    std::fprintf(g_out, "ready\n");
    std::fflush(g_out);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
