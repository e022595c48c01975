// The bytes of every packet exchanged with the server plug-in: the 12-byte
// header that starts each datagram, the packet type codes and the payload
// records. Every multi-byte integer is little-endian and every record packed.
//
// Integers are held as byte arrays (LeU16, LeU32) rather than native
// integers: a record then has the wire's bytes on any host, whatever its byte
// order or alignment rules, and can be copied to and from a datagram with
// memcpy. The wrappers convert on read and write, so fields are still used as
// numbers (header.length = n; if (header.magic == AC_PACKET_MAGIC) ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/little_endian.h"

namespace marvik {

// A u16 stored little-endian. Alignment 1, so records need no padding.
struct LeU16 {
    std::uint8_t bytes[2];

    std::uint16_t get() const { return loadLe16(bytes); }
    void set(std::uint16_t v) { storeLe16(bytes, v); }
    operator std::uint16_t() const { return get(); }
    LeU16& operator=(std::uint16_t v) {
        set(v);
        return *this;
    }
};

// A u32 stored little-endian.
struct LeU32 {
    std::uint8_t bytes[4];

    std::uint32_t get() const { return loadLe32(bytes); }
    void set(std::uint32_t v) { storeLe32(bytes, v); }
    operator std::uint32_t() const { return get(); }
    LeU32& operator=(std::uint32_t v) {
        set(v);
        return *this;
    }
};

// On the wire the bytes 00 43 41 4D.
constexpr std::uint32_t AC_PACKET_MAGIC = 0x4D414300u;
constexpr std::uint8_t AC_PROTOCOL_VERSION = 1;
constexpr std::uint32_t AC_CLIENT_VERSION = 0x203u;

// Packet type codes (C->S client to server, S->C server to client).
enum ACPacketType : std::uint8_t {
    PKT_HELLO = 1,                // C->S, always in clear
    PKT_CHALLENGE = 2,            // S->C, always in clear
    PKT_CHALLENGE_RESPONSE = 3,   // C->S
    PKT_VERIFY_OK = 4,            // S->C
    PKT_HEARTBEAT = 5,            // C->S
    PKT_MODULE_LIST = 6,          // C->S, chunked
    PKT_KICK = 10,                // S->C
    PKT_MEMORY_REPORT = 12,       // C->S
    PKT_IDENTITY = 13,            // C->S
    PKT_MODULE_LOG = 14,          // C->S, chunked
    PKT_SCREENSHOT_REQUEST = 15,  // S->C
    PKT_UPDATE_AVAILABLE = 18,    // S->C
    PKT_CONFIG_CHUNK = 20,        // C->S, chunked
};

constexpr std::size_t AC_HEADER_SIZE = 12;
constexpr std::size_t AC_CHALLENGE_SIZE = 32;
constexpr std::size_t AC_ANSWER_SIZE = 32;

// Chunking limits of the three multi-datagram reports.
constexpr std::size_t MODULE_LIST_ENTRIES_PER_CHUNK = 15;
constexpr std::size_t MODULE_LOG_ENTRIES_PER_CHUNK = 3;
constexpr std::size_t CONFIG_CHUNK_DATA_SIZE = 900;
constexpr std::size_t CONFIG_MAX_FILE_SIZE = 59999;

#pragma pack(push, 1)

struct ACPacketHeader {
    LeU32 magic;
    std::uint8_t version;
    std::uint8_t type;
    LeU16 length;  // payload bytes after the header
    LeU32 sessionId;
};

struct HelloPayload {
    char playerName[36];
    LeU32 serverPort;
    LeU32 clientVersion;
    char hwid[64];
    char guid[36];
};

struct ChallengeResponsePayload {
    std::uint8_t answer[32];
    LeU32 selfCrc;
    LeU32 gameCrc;
    std::uint8_t integrityFlags;  // finding i sets bit i
};

struct HeartbeatPayload {
    LeU32 tickCount;
    LeU32 processCount;
    std::uint8_t debuggerFlag;
    std::uint8_t moduleAlertFlag;
    std::uint8_t integrityAlertFlag;
    std::uint8_t reserved;
    LeU32 selfCrc;
    LeU32 uptimeSeconds;
};

struct ModuleListChunkHeader {
    LeU16 entryCount;
    LeU16 chunkIndex;
    LeU16 chunkCount;
    LeU16 totalEntries;
};

struct ModuleListEntry {
    char name[64];
    LeU32 crc32;
    LeU32 imageSize;
};

struct ModuleLogChunkHeader {
    LeU16 entryCount;
    LeU32 tickCount;
    LeU16 chunkIndex;
    LeU16 chunkCount;
    LeU16 totalEntries;
};

struct ModuleLogEntry {
    char name[128];
    char path[260];
    LeU32 crc32;
    LeU32 imageSize;
    std::uint8_t suspicious;
};

struct MemoryReportPayload {
    LeU32 address;
    LeU32 size;
    std::uint8_t hitFlag;  // always 1
    char description[64];
};

struct IdentityPayload {
    char hwid[64];
    char guid[36];
    LeU32 timestamp;
};

// Followed in the same payload by 1 to 900 bytes of the file.
struct ConfigChunkHeader {
    char playerName[36];
    LeU32 fileSize;
};

#pragma pack(pop)

static_assert(sizeof(LeU16) == 2 && alignof(LeU16) == 1, "LeU16 must be 2 unaligned bytes");
static_assert(sizeof(LeU32) == 4 && alignof(LeU32) == 1, "LeU32 must be 4 unaligned bytes");

static_assert(sizeof(ACPacketHeader) == AC_HEADER_SIZE, "header size");
static_assert(offsetof(ACPacketHeader, magic) == 0, "header.magic");
static_assert(offsetof(ACPacketHeader, version) == 4, "header.version");
static_assert(offsetof(ACPacketHeader, type) == 5, "header.type");
static_assert(offsetof(ACPacketHeader, length) == 6, "header.length");
static_assert(offsetof(ACPacketHeader, sessionId) == 8, "header.sessionId");

static_assert(sizeof(HelloPayload) == 144, "hello size");
static_assert(offsetof(HelloPayload, playerName) == 0, "hello.playerName");
static_assert(offsetof(HelloPayload, serverPort) == 36, "hello.serverPort");
static_assert(offsetof(HelloPayload, clientVersion) == 40, "hello.clientVersion");
static_assert(offsetof(HelloPayload, hwid) == 44, "hello.hwid");
static_assert(offsetof(HelloPayload, guid) == 108, "hello.guid");

static_assert(sizeof(ChallengeResponsePayload) == 41, "response size");
static_assert(offsetof(ChallengeResponsePayload, answer) == 0, "response.answer");
static_assert(offsetof(ChallengeResponsePayload, selfCrc) == 32, "response.selfCrc");
static_assert(offsetof(ChallengeResponsePayload, gameCrc) == 36, "response.gameCrc");
static_assert(offsetof(ChallengeResponsePayload, integrityFlags) == 40, "response.integrityFlags");

static_assert(sizeof(HeartbeatPayload) == 20, "heartbeat size");
static_assert(offsetof(HeartbeatPayload, tickCount) == 0, "heartbeat.tickCount");
static_assert(offsetof(HeartbeatPayload, processCount) == 4, "heartbeat.processCount");
static_assert(offsetof(HeartbeatPayload, debuggerFlag) == 8, "heartbeat.debuggerFlag");
static_assert(offsetof(HeartbeatPayload, moduleAlertFlag) == 9, "heartbeat.moduleAlertFlag");
static_assert(offsetof(HeartbeatPayload, integrityAlertFlag) == 10, "heartbeat.integrityAlertFlag");
static_assert(offsetof(HeartbeatPayload, reserved) == 11, "heartbeat.reserved");
static_assert(offsetof(HeartbeatPayload, selfCrc) == 12, "heartbeat.selfCrc");
static_assert(offsetof(HeartbeatPayload, uptimeSeconds) == 16, "heartbeat.uptimeSeconds");

static_assert(sizeof(ModuleListChunkHeader) == 8, "module list head size");
static_assert(offsetof(ModuleListChunkHeader, entryCount) == 0, "list.entryCount");
static_assert(offsetof(ModuleListChunkHeader, chunkIndex) == 2, "list.chunkIndex");
static_assert(offsetof(ModuleListChunkHeader, chunkCount) == 4, "list.chunkCount");
static_assert(offsetof(ModuleListChunkHeader, totalEntries) == 6, "list.totalEntries");
static_assert(sizeof(ModuleListEntry) == 72, "module list entry size");
static_assert(offsetof(ModuleListEntry, name) == 0, "listEntry.name");
static_assert(offsetof(ModuleListEntry, crc32) == 64, "listEntry.crc32");
static_assert(offsetof(ModuleListEntry, imageSize) == 68, "listEntry.imageSize");

static_assert(sizeof(ModuleLogChunkHeader) == 12, "module log head size");
static_assert(offsetof(ModuleLogChunkHeader, entryCount) == 0, "log.entryCount");
static_assert(offsetof(ModuleLogChunkHeader, tickCount) == 2, "log.tickCount");
static_assert(offsetof(ModuleLogChunkHeader, chunkIndex) == 6, "log.chunkIndex");
static_assert(offsetof(ModuleLogChunkHeader, chunkCount) == 8, "log.chunkCount");
static_assert(offsetof(ModuleLogChunkHeader, totalEntries) == 10, "log.totalEntries");
static_assert(sizeof(ModuleLogEntry) == 397, "module log entry size");
static_assert(offsetof(ModuleLogEntry, name) == 0, "logEntry.name");
static_assert(offsetof(ModuleLogEntry, path) == 128, "logEntry.path");
static_assert(offsetof(ModuleLogEntry, crc32) == 388, "logEntry.crc32");
static_assert(offsetof(ModuleLogEntry, imageSize) == 392, "logEntry.imageSize");
static_assert(offsetof(ModuleLogEntry, suspicious) == 396, "logEntry.suspicious");

static_assert(sizeof(MemoryReportPayload) == 73, "memory report size");
static_assert(offsetof(MemoryReportPayload, address) == 0, "memory.address");
static_assert(offsetof(MemoryReportPayload, size) == 4, "memory.size");
static_assert(offsetof(MemoryReportPayload, hitFlag) == 8, "memory.hitFlag");
static_assert(offsetof(MemoryReportPayload, description) == 9, "memory.description");

static_assert(sizeof(IdentityPayload) == 104, "identity size");
static_assert(offsetof(IdentityPayload, hwid) == 0, "identity.hwid");
static_assert(offsetof(IdentityPayload, guid) == 64, "identity.guid");
static_assert(offsetof(IdentityPayload, timestamp) == 100, "identity.timestamp");

static_assert(sizeof(ConfigChunkHeader) == 40, "config head size");
static_assert(offsetof(ConfigChunkHeader, playerName) == 0, "config.playerName");
static_assert(offsetof(ConfigChunkHeader, fileSize) == 36, "config.fileSize");

// The largest datagram the client sends: a full module log chunk.
constexpr std::size_t AC_MAX_SENT_DATAGRAM =
    AC_HEADER_SIZE + sizeof(ModuleLogChunkHeader) + MODULE_LOG_ENTRIES_PER_CHUNK * sizeof(ModuleLogEntry);
static_assert(AC_MAX_SENT_DATAGRAM == 1215, "largest datagram");

// Zero-fills field (size bytes) and writes text's wire form (wireText in
// base/utf8.h) into at most size - 1 of them, so the field is always
// NUL-terminated; a longer text is cut on a character boundary. A null text
// leaves the field all zero.
void copyTextField(char* field, std::size_t size, const char* text);

template <std::size_t N>
void copyText(char (&field)[N], const char* text) {
    copyTextField(field, N, text);
}
template <std::size_t N>
void copyText(char (&field)[N], const std::string& text) {
    copyTextField(field, N, text.c_str());
}

}  // namespace marvik
