#include "app/globals.h"
#include "monitor/workers_win32.h"
#include "net/server_listener.h"
#include "net/udp_client.h"

namespace marvik {

DWORD WINAPI serverListenThread(LPVOID) {
    UDPClient* client = g_clientPtr.load();
    if (client != nullptr) serverListenLoop(*client);
    return 0;
}

}  // namespace marvik
