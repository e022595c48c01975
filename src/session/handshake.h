// The session's handshake with the server plug-in: hello (one retry),
// challenge and answer, verdict; then the identity report. Portable: it
// talks only through UDPClient, the log and the tray, so its rules run in
// native tests against a scripted peer.
#pragma once

#include <cstdint>
#include <string>

#include "net/packets.h"

namespace marvik {

class UDPClient;
struct SessionFacts;
struct SessionLink;

// How the handshake ended.
enum class HandshakeResult {
    VERIFIED,      // the server sent its verdict: verified
    UNVERIFIED,    // a challenge came but no verdict: the session goes on
    NO_CHALLENGE,  // no challenge in two tries
    REJECTED,      // the server answered with a kick
    STOPPED,       // the program was stopped during the retry pause
};

HelloPayload makeHello(const std::string& playerName, std::uint16_t serverPort, const std::string& hwid,
                       const std::string& guid);
ChallengeResponsePayload makeChallengeResponse(const std::uint8_t (&challenge)[AC_CHALLENGE_SIZE],
                                               std::uint32_t selfCrc, std::uint32_t gameCrc,
                                               std::uint8_t integrityFlags);
IdentityPayload makeIdentity(const std::string& hwid, const std::string& guid, std::uint32_t timestamp);

// Hello to verdict on the session's open client, from the session's facts
// alone, with its log lines and tray reports. Sets g_verified unless
// rejected or stopped.
HandshakeResult handshake(SessionLink& link);

// The identity report; nothing is sent for an empty GUID.
void reportIdentity(UDPClient& client, const SessionFacts& facts);

}  // namespace marvik
