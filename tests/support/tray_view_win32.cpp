#include "report/tray_win32.h"
#include "support/files.h"

namespace marvik::test {

TrayView trayView() {
    return TrayView{g_nid.szTip, g_nid.szInfo, g_nid.szInfoTitle,
                    static_cast<unsigned>(g_nid.dwInfoFlags)};
}

}  // namespace marvik::test
