// Machine and launcher facts for the page.
#pragma once

#include <cstdint>

#include "app/bridge.h"

struct MachineFacts {
    std::uint64_t total_ram_bytes = 0;  // 0 when the query fails
    std::int64_t cpus = 0;              // logical processors
};

// "windows" or "linux" (platform half).
extern const char* const platform_name;

// Queried afresh on every call (platform half).
MachineFacts read_machine_facts();

// The ten members, folders from the helpers, the rest from facts.
json system_info_object(const MachineFacts& facts);

json native_systemInfo(const json& args);
