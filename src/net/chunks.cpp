#include "net/chunks.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/clock.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "report/log.h"

namespace marvik {

namespace {

// ceil(n / per), and 1 for an empty report.
std::size_t chunkCountFor(std::size_t n, std::size_t per) { return n == 0 ? 1 : (n + per - 1) / per; }

template <typename Record>
void appendRecord(std::vector<std::uint8_t>& payload, const Record& record) {
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    payload.insert(payload.end(), bytes, bytes + sizeof record);
}

void sendChunks(UDPClient& client, std::uint8_t type, const ChunkPayloads& chunks) {
    for (const std::vector<std::uint8_t>& chunk : chunks) {
        client.sendPacket(type, chunk.data(), static_cast<std::uint16_t>(chunk.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(CHUNK_PAUSE_MS));
    }
}

ModuleListEntry listEntry(const ModuleInfo& m) {
    ModuleListEntry entry{};
    copyText(entry.name, m.name);
    entry.crc32 = m.crc32;
    entry.imageSize = m.size;
    return entry;
}

ModuleLogEntry logEntry(const ModuleInfo& m) {
    ModuleLogEntry entry{};
    copyText(entry.name, m.name);
    copyText(entry.path, m.path);
    entry.crc32 = m.crc32;
    entry.imageSize = m.size;
    entry.suspicious = m.suspicious ? 1 : 0;
    return entry;
}

// The module list and the module log alike: perChunk entries behind each
// chunk's head, which is head with its counts filled in; an empty list
// gives one chunk with no entries.
template <typename Head, typename Entry>
ChunkPayloads buildModuleChunks(const std::vector<ModuleInfo>& modules, std::size_t perChunk, Head head,
                                Entry (*makeEntry)(const ModuleInfo&)) {
    const std::size_t n = modules.size();
    const std::size_t count = chunkCountFor(n, perChunk);
    head.chunkCount = static_cast<std::uint16_t>(count);
    head.totalEntries = static_cast<std::uint16_t>(n);
    ChunkPayloads chunks;
    chunks.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t first = i * perChunk;
        const std::size_t entries = std::min(perChunk, n - first);
        head.entryCount = static_cast<std::uint16_t>(entries);
        head.chunkIndex = static_cast<std::uint16_t>(i);
        std::vector<std::uint8_t> payload;
        payload.reserve(sizeof head + entries * sizeof(Entry));
        appendRecord(payload, head);
        for (std::size_t k = 0; k < entries; ++k) appendRecord(payload, makeEntry(modules[first + k]));
        chunks.push_back(std::move(payload));
    }
    return chunks;
}

}  // namespace

ChunkPayloads buildModuleListChunks(const std::vector<ModuleInfo>& modules) {
    return buildModuleChunks(modules, MODULE_LIST_ENTRIES_PER_CHUNK, ModuleListChunkHeader{}, listEntry);
}

ChunkPayloads buildModuleLogChunks(const std::vector<ModuleInfo>& modules, std::uint32_t tick) {
    ModuleLogChunkHeader head{};
    head.tickCount = tick;
    return buildModuleChunks(modules, MODULE_LOG_ENTRIES_PER_CHUNK, head, logEntry);
}

ChunkPayloads buildConfigChunks(const std::vector<std::uint8_t>& file, const std::string& playerName) {
    ChunkPayloads chunks;
    const std::size_t size = file.size();
    if (size == 0 || size > CONFIG_MAX_FILE_SIZE) return chunks;
    ConfigChunkHeader head{};
    copyText(head.playerName, playerName);
    head.fileSize = static_cast<std::uint32_t>(size);
    for (std::size_t offset = 0; offset < size; offset += CONFIG_CHUNK_DATA_SIZE) {
        const std::size_t slice = std::min(CONFIG_CHUNK_DATA_SIZE, size - offset);
        std::vector<std::uint8_t> payload;
        payload.reserve(sizeof head + slice);
        appendRecord(payload, head);
        payload.insert(payload.end(), file.begin() + static_cast<std::ptrdiff_t>(offset),
                       file.begin() + static_cast<std::ptrdiff_t>(offset + slice));
        chunks.push_back(std::move(payload));
    }
    return chunks;
}

void sendModules(UDPClient& client, const std::vector<ModuleInfo>& modules) {
    ChunkPayloads chunks = buildModuleListChunks(modules);
    sendChunks(client, PKT_MODULE_LIST, chunks);
    logToFile("SCAN", "Sent %d modules in %d chunks", static_cast<int>(modules.size()),
              static_cast<int>(chunks.size()));
}

void sendModuleLog(UDPClient& client, const std::vector<ModuleInfo>& modules) {
    ChunkPayloads chunks = buildModuleLogChunks(modules, tickCount());
    sendChunks(client, PKT_MODULE_LOG, chunks);
    logToFile("LOG", "Sent module log (%d entries, %d chunks)", static_cast<int>(modules.size()),
              static_cast<int>(chunks.size()));
}

int sendPlayerConfig(UDPClient& client, const std::vector<std::uint8_t>& file, const std::string& playerName) {
    ChunkPayloads chunks = buildConfigChunks(file, playerName);
    sendChunks(client, PKT_CONFIG_CHUNK, chunks);
    return static_cast<int>(chunks.size());
}

}  // namespace marvik
