#include "report/tray_posix.h"
#include "support/files.h"

namespace marvik::test {

TrayView trayView() {
    TrayText t = trayTextSnapshot();
    return TrayView{t.tip, t.info, t.infoTitle, t.infoLevel};
}

}  // namespace marvik::test
