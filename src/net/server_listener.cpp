#include "net/server_listener.h"

#include "net/udp_client.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/session_link.h"

namespace marvik {

namespace {
constexpr std::int32_t LISTEN_BUFFER_SIZE = 4096;
}

bool handleServerCommand(SessionLink& link, std::uint8_t type) {
    switch (type) {
    case PKT_SCREENSHOT_REQUEST:
        logToFile("SCREENSHOT", "Server requested screenshot");
        return false;
    case PKT_UPDATE_AVAILABLE:
        logToFile("UPDATE", "Update available from server");
        return false;
    case PKT_KICK:
        logToFile("AC", "Server kicked us!");
        showTrayBalloon("Kicked by server!", TrayBalloonLevel::Error);
        stopSession(link);
        return true;
    default:
        return false;
    }
}

void serverListenThread(SessionLink& link) {
    std::uint8_t buffer[LISTEN_BUFFER_SIZE];
    for (;;) {
        if (!sessionGoesOn(link)) return;
        ACPacketHeader header;
        if (link.client.receivePacket(header, buffer, LISTEN_BUFFER_SIZE) < 0) {
            // A stopped client fails at once; do not spin on it.
            if (sessionStopped(link)) return;
            continue;
        }
        // A command that arrived as the session stopped belongs to it, not
        // to whatever session runs when this thread gets to act on it.
        if (sessionStopped(link)) return;
        if (handleServerCommand(link, header.type)) return;
    }
}

}  // namespace marvik
