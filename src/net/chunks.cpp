#include "net/chunks.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "net/packets.h"
#include "net/platform_clock.h"
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

}  // namespace

ChunkPayloads buildModuleListChunks(const std::vector<ModuleInfo>& modules) {
    const std::size_t n = modules.size();
    const std::size_t count = chunkCountFor(n, MODULE_LIST_ENTRIES_PER_CHUNK);
    ChunkPayloads chunks;
    chunks.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t first = i * MODULE_LIST_ENTRIES_PER_CHUNK;
        const std::size_t entries = std::min(MODULE_LIST_ENTRIES_PER_CHUNK, n - first);
        ModuleListChunkHeader head{};
        head.entryCount = static_cast<std::uint16_t>(entries);
        head.chunkIndex = static_cast<std::uint16_t>(i);
        head.chunkCount = static_cast<std::uint16_t>(count);
        head.totalEntries = static_cast<std::uint16_t>(n);
        std::vector<std::uint8_t> payload;
        payload.reserve(sizeof head + entries * sizeof(ModuleListEntry));
        appendRecord(payload, head);
        for (std::size_t k = 0; k < entries; ++k) {
            const ModuleInfo& m = modules[first + k];
            ModuleListEntry entry{};
            copyText(entry.name, m.name);
            entry.crc32 = m.crc32;
            entry.imageSize = m.size;
            appendRecord(payload, entry);
        }
        chunks.push_back(std::move(payload));
    }
    return chunks;
}

ChunkPayloads buildModuleLogChunks(const std::vector<ModuleInfo>& modules, std::uint32_t tick) {
    const std::size_t n = modules.size();
    const std::size_t count = chunkCountFor(n, MODULE_LOG_ENTRIES_PER_CHUNK);
    ChunkPayloads chunks;
    chunks.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t first = i * MODULE_LOG_ENTRIES_PER_CHUNK;
        const std::size_t entries = std::min(MODULE_LOG_ENTRIES_PER_CHUNK, n - first);
        ModuleLogChunkHeader head{};
        head.entryCount = static_cast<std::uint16_t>(entries);
        head.tickCount = tick;
        head.chunkIndex = static_cast<std::uint16_t>(i);
        head.chunkCount = static_cast<std::uint16_t>(count);
        head.totalEntries = static_cast<std::uint16_t>(n);
        std::vector<std::uint8_t> payload;
        payload.reserve(sizeof head + entries * sizeof(ModuleLogEntry));
        appendRecord(payload, head);
        for (std::size_t k = 0; k < entries; ++k) {
            const ModuleInfo& m = modules[first + k];
            ModuleLogEntry entry{};
            copyText(entry.name, m.name);
            copyText(entry.path, m.path);
            entry.crc32 = m.crc32;
            entry.imageSize = m.size;
            entry.suspicious = m.suspicious ? 1 : 0;
            appendRecord(payload, entry);
        }
        chunks.push_back(std::move(payload));
    }
    return chunks;
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
