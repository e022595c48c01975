// The reports that arrive in chunks (module list, module log, player
// configuration), put back together per session.
#include <algorithm>
#include <cstring>
#include <vector>

#include "net/packets.h"
#include "server_state.h"

namespace marvik {

namespace {

// The head of a chunk of either module report.
struct ChunkHead {
    std::uint16_t entryCount, chunkIndex, chunkCount, totalEntries;
    std::uint32_t tickCount;  // module log only
};

// What tells the module list from the module log; the rest of putting them
// together is the same.
struct ModuleReportKind {
    mvs_event_type event;       // the finished report's event
    mvs_event_type chunkEvent;  // each chunk's event
    bool isLog;                 // named by its tick; paths and suspicious marks
    ChunkedReport ClientSession::*report;
    std::size_t headSize, entrySize;
    void (*readEntry)(const std::uint8_t* entry, mvs_module& m);
};

void readListEntry(const std::uint8_t* p, mvs_module& m) {
    ModuleListEntry e;
    std::memcpy(&e, p, sizeof e);
    copyField(m.name, e.name, sizeof e.name);
    m.crc32 = e.crc32;
    m.image_size = e.imageSize;
}

void readLogEntry(const std::uint8_t* p, mvs_module& m) {
    ModuleLogEntry e;
    std::memcpy(&e, p, sizeof e);
    copyField(m.name, e.name, sizeof e.name);
    copyField(m.path, e.path, sizeof e.path);
    m.crc32 = e.crc32;
    m.image_size = e.imageSize;
    m.suspicious = e.suspicious;
}

const ModuleReportKind MODULE_LIST = {MVS_EV_MODULE_LIST, MVS_EV_MODULE_LIST_CHUNK, false, &ClientSession::moduleList,
                                      sizeof(ModuleListChunkHeader), sizeof(ModuleListEntry), readListEntry};
const ModuleReportKind MODULE_LOG = {MVS_EV_MODULE_LOG, MVS_EV_MODULE_LOG_CHUNK, true, &ClientSession::moduleLog,
                                     sizeof(ModuleLogChunkHeader), sizeof(ModuleLogEntry), readLogEntry};

void closeModuleReport(mvs_server& s, ClientSession& cs, const ModuleReportKind& k, bool complete,
                       const char* reason, std::uint64_t nowMs) {
    ChunkedReport& r = cs.*k.report;
    if (!r.active) return;
    QueuedEvent& q = queueEvent(s, k.event, &cs, nowMs);
    q.reason = reason;
    auto& m = q.e.modules;
    m.complete = complete;
    m.chunk_count = r.chunkCount;
    m.chunks_received = r.received;
    m.total_entries = r.totalEntries;
    m.duplicates = r.duplicates;
    m.tick_count = r.tickCount;
    for (std::size_t i = 0; i < r.have.size(); ++i)
        if (!r.have[i]) q.missing.push_back(static_cast<std::uint16_t>(i));
    for (std::size_t i = 0; i < r.chunks.size(); ++i) {
        if (!r.have[i]) continue;
        const std::uint8_t* chunk = r.chunks[i].data();
        LeU16 entries;  // both heads start with the entry count
        std::memcpy(&entries, chunk, sizeof entries);
        for (std::uint16_t e = 0; e < entries.get(); ++e) {
            q.modules.push_back(mvs_module{});
            k.readEntry(chunk + k.headSize + e * k.entrySize, q.modules.back());
        }
    }
    r = ChunkedReport();
}

void onModuleChunk(mvs_server& s, ClientSession& cs, const ModuleReportKind& k, const ChunkHead& h,
                   const std::uint8_t* p, std::size_t len, std::uint64_t nowMs) {
    ChunkedReport& r = cs.*k.report;
    std::vector<std::uint8_t> bytes(p, p + len);
    // Every chunk of one module log carries the tick taken before its first.
    // No tick names a module list, so a report is told from the next by its
    // counts and by a first chunk arriving again: the client always starts
    // over at chunk 0.
    if (r.active && (r.chunkCount != h.chunkCount || r.totalEntries != h.totalEntries ||
                     (k.isLog ? r.tickCount != h.tickCount
                              : r.have[h.chunkIndex] && (h.chunkIndex == 0 || r.chunks[h.chunkIndex] != bytes))))
        closeModuleReport(s, cs, k, false, "superseded by a new report", nowMs);
    if (!r.active) {
        r = ChunkedReport();
        r.active = true;
        r.chunkCount = h.chunkCount;
        r.totalEntries = h.totalEntries;
        r.tickCount = h.tickCount;
        r.chunks.resize(h.chunkCount);
        r.have.assign(h.chunkCount, false);
    }
    bool duplicate = r.have[h.chunkIndex];
    auto& c = queueEvent(s, k.chunkEvent, &cs, nowMs).e.module_chunk;
    c.chunk_index = h.chunkIndex;
    c.chunk_count = h.chunkCount;
    c.entries = h.entryCount;
    c.total_entries = h.totalEntries;
    c.duplicate = duplicate;
    r.lastMs = nowMs;
    if (duplicate) {
        ++r.duplicates;
        return;
    }
    r.chunks[h.chunkIndex] = std::move(bytes);
    r.have[h.chunkIndex] = true;
    if (++r.received == r.chunkCount) closeModuleReport(s, cs, k, true, "", nowMs);
}

void closeConfig(mvs_server& s, ClientSession& cs, bool complete, const char* reason, std::uint64_t nowMs) {
    ConfigReport& r = cs.config;
    if (!r.active) return;
    QueuedEvent& q = queueEvent(s, MVS_EV_CONFIG, &cs, nowMs);
    q.reason = reason;
    auto& c = q.e.config;
    c.complete = complete;
    copyField(c.player, r.player.c_str(), r.player.size());
    c.file_size = r.fileSize;
    c.chunks = r.chunks;
    q.bytes = std::move(r.data);
    r = ConfigReport();
}

}  // namespace

void onModuleListChunk(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len,
                       std::uint64_t nowMs) {
    ModuleListChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    onModuleChunk(s, cs, MODULE_LIST, {h.entryCount, h.chunkIndex, h.chunkCount, h.totalEntries, 0}, p, len, nowMs);
}

void onModuleLogChunk(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len,
                      std::uint64_t nowMs) {
    ModuleLogChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    onModuleChunk(s, cs, MODULE_LOG, {h.entryCount, h.chunkIndex, h.chunkCount, h.totalEntries, h.tickCount}, p,
                  len, nowMs);
}

void onConfigChunk(mvs_server& s, ClientSession& cs, const std::uint8_t* p, std::size_t len, std::uint64_t nowMs) {
    ConfigChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    const std::uint8_t* data = p + sizeof h;
    std::size_t dataLen = len - sizeof h;
    ConfigReport& r = cs.config;
    char player[sizeof h.playerName + 1];
    copyField(player, h.playerName, sizeof h.playerName);
    if (r.active && (r.fileSize != h.fileSize || r.player != player))
        closeConfig(s, cs, false, "superseded by a new upload", nowMs);
    if (r.active && r.data.size() + dataLen > r.fileSize)
        closeConfig(s, cs, false, "more bytes than fileSize: a chunk was lost", nowMs);
    if (!r.active) {
        r = ConfigReport();
        r.active = true;
        r.player = player;
        r.fileSize = h.fileSize;
        r.data.reserve(h.fileSize);
    }
    r.data.insert(r.data.end(), data, data + dataLen);
    ++r.chunks;
    r.lastMs = nowMs;

    auto& c = queueEvent(s, MVS_EV_CONFIG_CHUNK, &cs, nowMs).e.config_chunk;
    std::memcpy(c.player, player, sizeof player);
    c.file_size = h.fileSize;
    c.data_bytes = static_cast<std::uint32_t>(dataLen);
    c.offset = static_cast<std::uint32_t>(r.data.size() - dataLen);
    c.chunks = r.chunks;

    // Only the last slice of a file is short; a short one that does not end
    // the file means slices before it were lost.
    if (r.data.size() == r.fileSize)
        closeConfig(s, cs, true, "", nowMs);
    else if (dataLen < CONFIG_CHUNK_DATA_SIZE)
        closeConfig(s, cs, false, "last slice arrived before fileSize bytes: a chunk was lost", nowMs);
}

void closeReports(mvs_server& s, ClientSession& cs, const char* reason, std::uint32_t idleMs, std::uint64_t nowMs) {
    auto idle = [&](std::uint64_t lastMs) { return idleMs == 0 || nowMs >= lastMs + idleMs; };
    if (idle(cs.moduleList.lastMs)) closeModuleReport(s, cs, MODULE_LIST, false, reason, nowMs);
    if (idle(cs.moduleLog.lastMs)) closeModuleReport(s, cs, MODULE_LOG, false, reason, nowMs);
    if (idle(cs.config.lastMs)) closeConfig(s, cs, false, reason, nowMs);
}

std::uint64_t reportsDeadline(const ClientSession& cs, std::uint32_t idleMs) {
    std::uint64_t next = UINT64_MAX;
    if (cs.moduleList.active) next = std::min(next, cs.moduleList.lastMs + idleMs);
    if (cs.moduleLog.active) next = std::min(next, cs.moduleLog.lastMs + idleMs);
    if (cs.config.active) next = std::min(next, cs.config.lastMs + idleMs);
    return next;
}

}  // namespace marvik
