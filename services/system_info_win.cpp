#include <windows.h>

#include "services/system_info.h"

const char* const platform_name = "windows";

MachineFacts read_machine_facts() {
    MachineFacts f;
    MEMORYSTATUSEX mem{};
    mem.dwLength = sizeof mem;
    GlobalMemoryStatusEx(&mem);  // on failure ullTotalPhys stays 0
    f.total_ram_bytes = mem.ullTotalPhys;
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    f.cpus = static_cast<std::int64_t>(si.dwNumberOfProcessors);
    return f;
}
