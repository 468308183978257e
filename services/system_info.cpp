#include "services/system_info.h"

#include "app/helpers.h"

json system_info_object(const MachineFacts& facts) {
    json o = json::object();
    o["totalRamMB"] = static_cast<std::int64_t>(facts.total_ram_bytes >> 20);
    o["cpus"] = facts.cpus;
    o["appData"] = path_to_utf8(known_folder(csidl_appdata));
    o["localAppData"] = path_to_utf8(known_folder(csidl_local_appdata));
    o["defaultGameDir"] = path_to_utf8(data_dir());
    o["dataDir"] = path_to_utf8(data_dir());
    o["exeDir"] = path_to_utf8(exe_dir());
    o["platform"] = platform_name;
    o["appName"] = "Quorvel Launcher";
    o["appVersion"] = "3.1.0";
    return o;
}

json native_systemInfo(const json&) { return system_info_object(read_machine_facts()); }
