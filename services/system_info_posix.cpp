#include <sys/sysinfo.h>
#include <unistd.h>

#include "services/system_info.h"

const char* const platform_name = "linux";

MachineFacts read_machine_facts() {
    MachineFacts f;
    struct sysinfo si {};
    if (::sysinfo(&si) == 0) f.total_ram_bytes = static_cast<std::uint64_t>(si.totalram) * si.mem_unit;
    long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    f.cpus = n > 0 ? n : 0;
    return f;
}
