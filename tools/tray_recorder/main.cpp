// tray_recorder: stands in for the shell's notification area in tests. It
// owns a "Shell_TrayWnd" window, so Shell_NotifyIcon calls of the programs
// started after it reach it, and writes one line per call to a file:
//   <ms since start> <ADD|MODIFY|DELETE|SETFOCUS|SETVERSION> id=<n> flags=<hex>
//       tip=<text> info=<text> title=<text> infoflags=<n> icon=<hash of its pixels, 0: none>
// (tab-separated, UTF-8). Texts are the ones the call carries; a field the
// call's flags do not name is empty. The first line is "ready".
//   tray_recorder <output file>
// Runs until killed or until a file "<output file>.stop" appears.
//
// Shell_NotifyIcon under Wine forwards the record as WM_COPYDATA in Wine's
// own layout: hWnd, uID, uFlags, uCallbackMessage, then the texts as UTF-16.
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

std::string utf8(const WCHAR* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != 0) ++n;
    if (n == 0) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), &out[0], size, nullptr, nullptr);
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

const char* operationName(ULONG_PTR op) {
    switch (op) {
    case NIM_ADD: return "ADD";
    case NIM_MODIFY: return "MODIFY";
    case NIM_DELETE: return "DELETE";
    case NIM_SETFOCUS: return "SETFOCUS";
    case NIM_SETVERSION: return "SETVERSION";
    default: return "OTHER";
    }
}

void record(const COPYDATASTRUCT* cds) {
    if (cds == nullptr || cds->cbData < sizeof(WineNotifyData) || cds->lpData == nullptr) return;
    WineNotifyData d;
    std::memcpy(&d, cds->lpData, sizeof d);
    std::string tip = (d.uFlags & NIF_TIP) ? utf8(d.szTip, 128) : std::string();
    std::string info = (d.uFlags & NIF_INFO) ? utf8(d.szInfo, 256) : std::string();
    std::string title = (d.uFlags & NIF_INFO) ? utf8(d.szInfoTitle, 64) : std::string();
    // The icon's size and pixels follow the record; their FNV-1a hash tells
    // one icon from another.
    unsigned long long icon = 0;
    if ((d.uFlags & NIF_ICON) && cds->cbData > sizeof d) {
        icon = 14695981039346656037ull;
        const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
        for (DWORD i = sizeof d; i < cds->cbData; ++i) icon = (icon ^ bytes[i]) * 1099511628211ull;
    }
    std::fprintf(g_out, "%lu\t%s\tid=%u\tflags=%x\ttip=%s\tinfo=%s\ttitle=%s\tinfoflags=%lu\ticon=%llx\n",
                 static_cast<unsigned long>(GetTickCount() - g_start), operationName(cds->dwData), d.uID,
                 d.uFlags, tip.c_str(), info.c_str(), title.c_str(),
                 static_cast<unsigned long>((d.uFlags & NIF_INFO) ? d.dwInfoFlags : 0), icon);
    std::fflush(g_out);
}

LRESULT CALLBACK trayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COPYDATA) {
        record(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tray_recorder <output file>\n");
        return 64;
    }
    g_out = std::fopen(argv[1], "w");
    if (g_out == nullptr) return 2;
    const std::string stopFile = std::string(argv[1]) + ".stop";
    g_start = GetTickCount();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = trayProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&wc);
    // Topmost, so a search for the class meets this window before the
    // desktop's own tray window.
    HWND tray = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (tray == nullptr) return 3;
    std::fprintf(g_out, "ready\n");
    std::fflush(g_out);

    SetTimer(tray, 1, 200, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && GetFileAttributesA(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        DispatchMessageW(&msg);
    }
    std::fclose(g_out);
    return 0;
}
