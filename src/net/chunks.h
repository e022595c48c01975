// The three reports that span several datagrams: the module list, the
// module log and the player configuration. The builders return every chunk's
// payload in sending order; the senders send them through the client and
// pause 50 ms after each chunk, the last included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/module_info.h"

namespace marvik {

class UDPClient;

using ChunkPayloads = std::vector<std::vector<std::uint8_t>>;

constexpr unsigned CHUNK_PAUSE_MS = 50;

// PKT_MODULE_LIST chunks of 15 entries; an empty list gives one chunk with
// no entries.
ChunkPayloads buildModuleListChunks(const std::vector<ModuleInfo>& modules);

// PKT_MODULE_LOG chunks of 3 entries, each carrying tick; an empty list
// gives one chunk with no entries.
ChunkPayloads buildModuleLogChunks(const std::vector<ModuleInfo>& modules, std::uint32_t tick);

// PKT_CONFIG_CHUNK chunks of 900 file bytes behind the player name and the
// file size. Nothing for an empty file or one of 60 000 bytes or more.
ChunkPayloads buildConfigChunks(const std::vector<std::uint8_t>& file, const std::string& playerName);

// Sends the module list, then logs "Sent %d modules in %d chunks" (SCAN).
void sendModules(UDPClient& client, const std::vector<ModuleInfo>& modules);

// Sends the module log with one tick count taken before the first chunk,
// then logs "Sent module log (%d entries, %d chunks)" (LOG).
void sendModuleLog(UDPClient& client, const std::vector<ModuleInfo>& modules);

// Sends the player configuration; returns the number of chunks sent (0 when
// the file's size is not accepted). Logging is the caller's.
int sendPlayerConfig(UDPClient& client, const std::vector<std::uint8_t>& file, const std::string& playerName);

}  // namespace marvik
