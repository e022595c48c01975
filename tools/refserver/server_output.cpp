#include "server_output.h"

#include <cstdio>
#include <cstring>

#include "inventory/hash.h"
#include "net/packets.h"
#include "net/udp_client.h"

namespace marvik {

std::string endpointText(const Endpoint& e) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", (e.ip >> 24) & 255u, (e.ip >> 16) & 255u,
                  (e.ip >> 8) & 255u, e.ip & 255u, static_cast<unsigned>(e.port));
    return buf;
}

EventBuilder beginEvent(const ServerCall& c, const char* name) {
    EventBuilder b{name, JsonObject(), std::string()};
    std::uint64_t uptimeMs = c.nowMs - c.state.startMs;
    jsonAddString(b.json, "event", name);
    jsonAddUint(b.json, "t_ms", uptimeMs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8.3f ", static_cast<double>(uptimeMs) / 1000.0);
    b.summary = buf;
    return b;
}

void addPeer(EventBuilder& b, const ClientSession& cs) {
    jsonAddString(b.json, "from", endpointText(cs.from));
    jsonAddHex(b.json, "session", cs.sessionId);
    b.summary += endpointText(cs.from) + " " + hex32(cs.sessionId) + " ";
}

ServerEvent& emitEvent(const ServerCall& c, const EventBuilder& b) {
    ServerEvent e;
    e.name = b.name;
    e.json = jsonFinish(b.json);
    e.summary = b.summary;
    c.out.events.push_back(std::move(e));
    return c.out.events.back();
}

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char ch : bytes) {
        if (ch >= 0x20 && ch < 0x7f) {
            out += static_cast<char>(ch);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", ch);
            out += buf;
        }
    }
    return out;
}

void emitMalformed(const ServerCall& c, const Endpoint& from, std::size_t n,
                   const std::string& reason) {
    ++c.state.counters.malformed;
    EventBuilder b = beginEvent(c, "malformed");
    jsonAddString(b.json, "from", endpointText(from));
    jsonAddUint(b.json, "bytes", n);
    jsonAddString(b.json, "reason", reason);
    b.summary += endpointText(from) + " MALFORMED (" + std::to_string(n) + " bytes): " + reason;
    emitEvent(c, b);
}

void sendReply(const ServerCall& c, const ClientSession& cs, std::uint8_t type, const void* payload,
               std::size_t length, const char* why) {
    OutDatagram d;
    d.to = cs.from;
    d.bytes = framePacket(type, payload, static_cast<std::uint16_t>(length), cs.sessionId,
                          c.state.options.encryption);
    ++c.state.counters.repliesSent;
    EventBuilder b = beginEvent(c, "sent");
    jsonAddString(b.json, "to", endpointText(cs.from));
    jsonAddHex(b.json, "session", cs.sessionId);
    jsonAddString(b.json, "packet", packetTypeName(type));
    jsonAddUint(b.json, "type", type);
    jsonAddUint(b.json, "bytes", d.bytes.size());
    jsonAddString(b.json, "why", why);
    if (type == PKT_CHALLENGE) jsonAddString(b.json, "challenge", toHex(cs.challenge, 32));
    b.summary += endpointText(cs.from) + " " + hex32(cs.sessionId) + " <- " +
                 packetTypeName(type) + " (" + why + ")";
    emitEvent(c, b);
    c.out.replies.push_back(std::move(d));
}

void sendKick(const ServerCall& c, const ClientSession& cs, const char* why) {
    sendReply(c, cs, PKT_KICK, why, std::strlen(why), why);
}

}  // namespace marvik
