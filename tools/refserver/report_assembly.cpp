#include "report_assembly.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "inventory/hash.h"
#include "net/packets.h"

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
    const char* event;       // the finished report's event
    const char* chunkEvent;  // each chunk's event
    const char* title;       // in summary lines
    bool isLog;              // named by its tick; paths and suspicious marks
    ChunkedReport ClientSession::*report;
    std::size_t headSize, entrySize;
    // Reads one entry into m and into its JSON object.
    void (*readEntry)(const std::uint8_t* entry, ModuleInfo& m, JsonObject& o);
};

void readListEntry(const std::uint8_t* p, ModuleInfo& m, JsonObject& o) {
    ModuleListEntry e;
    std::memcpy(&e, p, sizeof e);
    m.name = fieldText(e.name, sizeof e.name);
    m.crc32 = e.crc32;
    m.size = e.imageSize;
    jsonAddString(o, "name", m.name);
    jsonAddHex(o, "crc32", m.crc32);
    jsonAddUint(o, "image_size", m.size);
}

void readLogEntry(const std::uint8_t* p, ModuleInfo& m, JsonObject& o) {
    ModuleLogEntry e;
    std::memcpy(&e, p, sizeof e);
    m.name = fieldText(e.name, sizeof e.name);
    m.path = fieldText(e.path, sizeof e.path);
    m.crc32 = e.crc32;
    m.size = e.imageSize;
    m.suspicious = e.suspicious != 0;
    jsonAddString(o, "name", m.name);
    jsonAddString(o, "path", m.path);
    jsonAddHex(o, "crc32", m.crc32);
    jsonAddUint(o, "image_size", m.size);
    jsonAddUint(o, "suspicious", e.suspicious);
}

const ModuleReportKind MODULE_LIST = {"module_list", "module_list_chunk", "module list", false,
                                      &ClientSession::moduleList, sizeof(ModuleListChunkHeader),
                                      sizeof(ModuleListEntry), readListEntry};
const ModuleReportKind MODULE_LOG = {"module_log", "module_log_chunk", "module log", true,
                                     &ClientSession::moduleLog, sizeof(ModuleLogChunkHeader),
                                     sizeof(ModuleLogEntry), readLogEntry};

void appendItem(std::string& list, const std::string& item) {
    if (!list.empty()) list += ',';
    list += item;
}

// The fields every finished report starts with.
EventBuilder beginReport(const ServerCall& c, const ClientSession& cs, const char* event,
                         const char* title, bool complete, const char* reason) {
    EventBuilder b = beginEvent(c, event);
    addPeer(b, cs);
    jsonAddBool(b.json, "complete", complete);
    if (!complete) jsonAddString(b.json, "reason", reason);
    b.summary += std::string(title) + (complete ? " COMPLETE: " : " INCOMPLETE: ");
    return b;
}

ServerEvent& emitReport(const ServerCall& c, EventBuilder& b, bool complete, const char* reason) {
    if (!complete) b.summary += std::string(" (") + reason + ")";
    ++(complete ? c.state.counters.reportsComplete : c.state.counters.reportsIncomplete);
    ServerEvent& e = emitEvent(c, b);
    e.complete = complete;
    return e;
}

void closeModuleReport(const ServerCall& c, ClientSession& cs, const ModuleReportKind& k,
                       bool complete, const char* reason) {
    ChunkedReport& r = cs.*k.report;
    if (!r.active) return;
    EventBuilder b = beginReport(c, cs, k.event, k.title, complete, reason);
    jsonAddUint(b.json, "chunk_count", r.chunkCount);
    jsonAddUint(b.json, "chunks_received", r.received);
    jsonAddUint(b.json, "total_entries", r.totalEntries);
    jsonAddUint(b.json, "duplicates", r.duplicates);
    std::string missing;
    for (std::size_t i = 0; i < r.have.size(); ++i)
        if (!r.have[i]) appendItem(missing, std::to_string(i));
    jsonAddRaw(b.json, "missing_chunks", "[" + missing + "]");
    if (k.isLog) jsonAddUint(b.json, "tick_count", r.tickCount);

    std::vector<ModuleInfo> modules;
    std::string items;
    std::size_t flagged = 0;
    for (std::size_t i = 0; i < r.chunks.size(); ++i) {
        if (!r.have[i]) continue;
        const std::uint8_t* chunk = r.chunks[i].data();
        LeU16 entries;  // both heads start with the entry count
        std::memcpy(&entries, chunk, sizeof entries);
        for (std::uint16_t e = 0; e < entries.get(); ++e) {
            ModuleInfo m;
            JsonObject o;
            k.readEntry(chunk + k.headSize + e * k.entrySize, m, o);
            appendItem(items, jsonFinish(o));
            flagged += m.suspicious ? 1 : 0;
            modules.push_back(std::move(m));
        }
    }
    jsonAddRaw(b.json, "modules", "[" + items + "]");
    b.summary += std::to_string(modules.size()) + "/" + std::to_string(r.totalEntries) +
                 " modules, " + (k.isLog ? std::to_string(flagged) + " suspicious, " : "") +
                 std::to_string(r.received) + "/" + std::to_string(r.chunkCount) + " chunks";
    emitReport(c, b, complete, reason).modules = std::move(modules);
    r = ChunkedReport();
}

void onModuleChunk(const ServerCall& c, ClientSession& cs, const ModuleReportKind& k,
                   const ChunkHead& h, const std::uint8_t* p, std::size_t len) {
    ChunkedReport& r = cs.*k.report;
    std::vector<std::uint8_t> bytes(p, p + len);
    // Every chunk of one module log carries the tick taken before its first.
    // No tick names a module list, so a report is told from the next by its
    // counts and by a first chunk arriving again: the client always starts
    // over at chunk 0.
    if (r.active &&
        (r.chunkCount != h.chunkCount || r.totalEntries != h.totalEntries ||
         (k.isLog ? r.tickCount != h.tickCount
                  : r.have[h.chunkIndex] && (h.chunkIndex == 0 || r.chunks[h.chunkIndex] != bytes))))
        closeModuleReport(c, cs, k, false, "superseded by a new report");
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
    EventBuilder b = beginEvent(c, k.chunkEvent);
    addPeer(b, cs);
    jsonAddUint(b.json, "chunk_index", h.chunkIndex);
    jsonAddUint(b.json, "chunk_count", h.chunkCount);
    jsonAddUint(b.json, "entries", h.entryCount);
    jsonAddUint(b.json, "total_entries", h.totalEntries);
    jsonAddBool(b.json, "duplicate", duplicate);
    b.summary += std::string(k.chunkEvent) + " " + std::to_string(h.chunkIndex + 1) + "/" +
                 std::to_string(h.chunkCount) + (duplicate ? " (duplicate, ignored)" : "");
    emitEvent(c, b);
    r.lastMs = c.nowMs;
    if (duplicate) {
        ++r.duplicates;
        return;
    }
    r.chunks[h.chunkIndex] = std::move(bytes);
    r.have[h.chunkIndex] = true;
    if (++r.received == r.chunkCount) closeModuleReport(c, cs, k, true, "");
}

void closeConfig(const ServerCall& c, ClientSession& cs, bool complete, const char* reason) {
    ConfigReport& r = cs.config;
    if (!r.active) return;
    EventBuilder b = beginReport(c, cs, "config", "config", complete, reason);
    jsonAddString(b.json, "player", r.player);
    jsonAddUint(b.json, "size", r.fileSize);
    jsonAddUint(b.json, "received_bytes", r.data.size());
    jsonAddUint(b.json, "chunks", r.chunks);
    if (complete) {
        std::uint8_t digest[MD5_DIGEST_SIZE];
        md5Compute(r.data.data(), r.data.size(), digest);
        jsonAddString(b.json, "md5", toHex(digest, sizeof digest));
        jsonAddString(b.json, "data_base64", base64(r.data.data(), r.data.size()));
    }
    b.summary += std::to_string(r.data.size()) + "/" + std::to_string(r.fileSize) + " bytes in " +
                 std::to_string(r.chunks) + " chunks";
    emitReport(c, b, complete, reason).data = std::move(r.data);
    r = ConfigReport();
}

}  // namespace

void onModuleListChunk(const ServerCall& c, ClientSession& cs, const std::uint8_t* p,
                       std::size_t len) {
    ModuleListChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    onModuleChunk(c, cs, MODULE_LIST, {h.entryCount, h.chunkIndex, h.chunkCount, h.totalEntries, 0},
                  p, len);
}

void onModuleLogChunk(const ServerCall& c, ClientSession& cs, const std::uint8_t* p,
                      std::size_t len) {
    ModuleLogChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    onModuleChunk(c, cs, MODULE_LOG,
                  {h.entryCount, h.chunkIndex, h.chunkCount, h.totalEntries, h.tickCount}, p, len);
}

void onConfigChunk(const ServerCall& c, ClientSession& cs, const std::uint8_t* p, std::size_t len) {
    ConfigChunkHeader h;
    std::memcpy(&h, p, sizeof h);
    const std::uint8_t* data = p + sizeof h;
    std::size_t dataLen = len - sizeof h;
    ConfigReport& r = cs.config;
    std::string player = fieldText(h.playerName, sizeof h.playerName);
    if (r.active && (r.fileSize != h.fileSize || r.player != player))
        closeConfig(c, cs, false, "superseded by a new upload");
    if (r.active && r.data.size() + dataLen > r.fileSize)
        closeConfig(c, cs, false, "more bytes than fileSize: a chunk was lost");
    if (!r.active) {
        r = ConfigReport();
        r.active = true;
        r.player = player;
        r.fileSize = h.fileSize;
        r.data.reserve(h.fileSize);
    }
    r.data.insert(r.data.end(), data, data + dataLen);
    ++r.chunks;
    r.lastMs = c.nowMs;

    EventBuilder b = beginEvent(c, "config_chunk");
    addPeer(b, cs);
    jsonAddString(b.json, "player", player);
    jsonAddUint(b.json, "file_size", h.fileSize);
    jsonAddUint(b.json, "data_bytes", dataLen);
    jsonAddUint(b.json, "offset", r.data.size() - dataLen);
    b.summary += "config chunk " + std::to_string(r.chunks) + ": " + std::to_string(dataLen) +
                 " bytes, " + std::to_string(r.data.size()) + "/" + std::to_string(h.fileSize);
    emitEvent(c, b);

    // Only the last slice of a file is short; a short one that does not end
    // the file means slices before it were lost.
    if (r.data.size() == r.fileSize)
        closeConfig(c, cs, true, "");
    else if (dataLen < CONFIG_CHUNK_DATA_SIZE)
        closeConfig(c, cs, false, "last slice arrived before fileSize bytes: a chunk was lost");
}

void closeReports(const ServerCall& c, ClientSession& cs, const char* reason, std::uint32_t idleMs) {
    auto idle = [&](std::uint64_t lastMs) { return idleMs == 0 || c.nowMs >= lastMs + idleMs; };
    if (idle(cs.moduleList.lastMs)) closeModuleReport(c, cs, MODULE_LIST, false, reason);
    if (idle(cs.moduleLog.lastMs)) closeModuleReport(c, cs, MODULE_LOG, false, reason);
    if (idle(cs.config.lastMs)) closeConfig(c, cs, false, reason);
}

std::uint64_t reportsDeadline(const ClientSession& cs, std::uint32_t idleMs) {
    std::uint64_t next = UINT64_MAX;
    if (cs.moduleList.active) next = std::min(next, cs.moduleList.lastMs + idleMs);
    if (cs.moduleLog.active) next = std::min(next, cs.moduleLog.lastMs + idleMs);
    if (cs.config.active) next = std::min(next, cs.config.lastMs + idleMs);
    return next;
}

}  // namespace marvik
