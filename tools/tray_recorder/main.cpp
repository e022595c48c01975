// tray_recorder <output file>: stands in for the shell's notification area in tests until killed. It owns a
// "Shell_TrayWnd" window, so Shell_NotifyIcon calls of programs started after it reach it, and writes "ready", then a
// line per call (tab-separated, UTF-8; a text the call's flags do not name is empty):
//   <ms since start> <ADD|MODIFY|DELETE|SETFOCUS|SETVERSION> flags=<hex> tip= info= title= infoflags=<n>
//   icon=<hash of its pixels, 0: none>
// Under Wine, Shell_NotifyIcon forwards the record as WM_COPYDATA in Wine's own layout (WineNotifyData), the icon's
// size and pixels after it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::FILE* g_out = nullptr;
DWORD g_start = 0;

#pragma pack(push, 4)
struct WineNotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    UINT uTimeoutOrVersion;
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
};
#pragma pack(pop)

template <size_t N>
std::string utf8(const WCHAR (&text)[N], bool named) {
    const int n = named ? static_cast<int>(wcsnlen(text, N)) : 0;
    std::string out(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr)), '\0');
    if (n != 0) WideCharToMultiByte(CP_UTF8, 0, text, n, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

void record(const COPYDATASTRUCT* cds) {
    static const char* const OPERATIONS[] = {"ADD", "MODIFY", "DELETE", "SETFOCUS", "SETVERSION"};  // NIM_*
    if (cds == nullptr || cds->cbData < sizeof(WineNotifyData) || cds->lpData == nullptr) return;
    WineNotifyData d;
    std::memcpy(&d, cds->lpData, sizeof d);
    const bool info = (d.uFlags & NIF_INFO) != 0;
    unsigned long long icon = 0;  // FNV-1a, which tells one icon from another
    if ((d.uFlags & NIF_ICON) && cds->cbData > sizeof d) {
        icon = 14695981039346656037ull;
        const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
        for (DWORD i = sizeof d; i < cds->cbData; ++i) icon = (icon ^ bytes[i]) * 1099511628211ull;
    }
    std::fprintf(g_out, "%lu\t%s\tflags=%x\ttip=%s\tinfo=%s\ttitle=%s\tinfoflags=%lu\ticon=%llx\n",
                 static_cast<unsigned long>(GetTickCount() - g_start),
                 cds->dwData < 5 ? OPERATIONS[cds->dwData] : "OTHER", d.uFlags,
                 utf8(d.szTip, d.uFlags & NIF_TIP).c_str(), utf8(d.szInfo, info).c_str(),
                 utf8(d.szInfoTitle, info).c_str(), static_cast<unsigned long>(info ? d.dwInfoFlags : 0), icon);
    std::fflush(g_out);
}

LRESULT CALLBACK trayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_COPYDATA) return DefWindowProcW(hwnd, msg, wParam, lParam);
    record(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (g_out = std::fopen(argv[1], "w")) == nullptr) return 2;
    g_start = GetTickCount();
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
