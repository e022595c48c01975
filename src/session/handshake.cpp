#include "session/handshake.h"

#include <ctime>

#include "base/process_flags.h"
#include "checks/checks.h"
#include "inventory/game_process.h"
#include "net/udp_client.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/challenge.h"
#include "session/session_link.h"

namespace marvik {

namespace {

constexpr std::int32_t HANDSHAKE_BUFFER_SIZE = 1024;
constexpr std::uint32_t HELLO_RETRY_PAUSE_MS = 5000;

// One try: the next datagram must be a challenge.
bool receiveChallenge(UDPClient& client, std::uint8_t (&buffer)[HANDSHAKE_BUFFER_SIZE],
                      std::uint8_t (&challenge)[AC_CHALLENGE_SIZE]) {
    ACPacketHeader header;
    std::int32_t length = client.receivePacket(header, buffer, HANDSHAKE_BUFFER_SIZE);
    if (length < 0 || header.type != PKT_CHALLENGE) return false;
    return challengeFromPayload(buffer, length, HANDSHAKE_BUFFER_SIZE, challenge);
}

void sendHello(UDPClient& client, const SessionFacts& facts) {
    const HelloPayload hello = makeHello(facts.config.playerName, facts.config.serverPort, facts.hwid, facts.guid);
    client.sendPacket(PKT_HELLO, &hello, sizeof hello);
}

}  // namespace

HelloPayload makeHello(const std::string& playerName, std::uint16_t serverPort, const std::string& hwid,
                       const std::string& guid) {
    HelloPayload hello{};
    copyText(hello.playerName, playerName);
    hello.serverPort = serverPort;
    hello.clientVersion = AC_CLIENT_VERSION;
    copyText(hello.hwid, hwid);
    copyText(hello.guid, guid);
    return hello;
}

ChallengeResponsePayload makeChallengeResponse(const std::uint8_t (&challenge)[AC_CHALLENGE_SIZE],
                                               std::uint32_t selfCrc, std::uint32_t gameCrc,
                                               std::uint8_t integrityFlags) {
    ChallengeResponsePayload response{};
    computeChallengeAnswer(challenge, response.answer);
    response.selfCrc = selfCrc;
    response.gameCrc = gameCrc;
    response.integrityFlags = integrityFlags;
    return response;
}

IdentityPayload makeIdentity(const std::string& hwid, const std::string& guid, std::uint32_t timestamp) {
    IdentityPayload identity{};
    copyText(identity.hwid, hwid);
    copyText(identity.guid, guid);
    identity.timestamp = timestamp;
    return identity;
}

HandshakeResult handshake(SessionLink& link) {
    UDPClient& client = link.client;
    const SessionFacts& facts = link.facts;
    if (facts.config.encryption) logToFile("CRYPTO", "RC4 encryption enabled");
    logToFile("NET", "Connecting to server AC...");
    sendHello(client, facts);

    std::uint8_t buffer[HANDSHAKE_BUFFER_SIZE] = {};
    std::uint8_t challenge[AC_CHALLENGE_SIZE] = {};
    if (!receiveChallenge(client, buffer, challenge)) {
        logToFile("WARN", "No challenge, retrying...");
        // A stop during the pause ends the attempt at once: the user asked
        // to quit, the server did nothing wrong, so no "not responding".
        if (!sessionSleep(link, HELLO_RETRY_PAUSE_MS)) return HandshakeResult::STOPPED;
        sendHello(client, facts);
        if (!receiveChallenge(client, buffer, challenge)) {
            logToFile("ERROR", "Server not responding.");
            showTrayBalloon("Server not responding. Is marvik-ac.so loaded?", TrayBalloonLevel::Warning);
            return HandshakeResult::NO_CHALLENGE;
        }
    }

    logToFile("NET", "Challenge received, computing response...");
    const ChallengeResponsePayload response =
        makeChallengeResponse(challenge, facts.selfCrc, facts.gameCrc, integrityFlagsByte(checkIntegrity()));
    client.sendPacket(PKT_CHALLENGE_RESPONSE, &response, sizeof response);

    ACPacketHeader header;
    std::int32_t length = client.receivePacket(header, buffer, HANDSHAKE_BUFFER_SIZE);
    if (length >= 0 && header.type == PKT_VERIFY_OK) {
        g_verified.exchange(true);
        logToFile("AC", "Successfully verified with server!");
        showTrayBalloon("AntiCheat verified! Play fair.", TrayBalloonLevel::Info);
        setTrayStatus("Verified - Active");
        return HandshakeResult::VERIFIED;
    }
    if (length >= 0 && header.type == PKT_KICK) {
        logToFile("AC", "Server rejected connection.");
        showTrayBalloon("Connection rejected by server!", TrayBalloonLevel::Error);
        // What a player can fix: a server with encryption on rejects a
        // client without it, and so does a wrong server.
        g_rejected.exchange(true);
        setTrayStatus(TRAY_STATUS_REJECTED);
        return HandshakeResult::REJECTED;
    }
    logToFile("WARN", "No verification response. Continuing...");
    g_verified.exchange(true);
    setTrayStatus("Active (no verify)");
    return HandshakeResult::UNVERIFIED;
}

void reportIdentity(UDPClient& client, const SessionFacts& facts) {
    if (facts.guid.empty()) return;
    const IdentityPayload identity =
        makeIdentity(facts.hwid, facts.guid, static_cast<std::uint32_t>(std::time(nullptr)));
    client.sendPacket(PKT_IDENTITY, &identity, sizeof identity);
}

}  // namespace marvik
