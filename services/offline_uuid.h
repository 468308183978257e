// Offline player identifiers: name-based UUIDs (version 3 layout) from MD5
// of "OfflinePlayer:" + name.
#pragma once

#include <string>

#include "app/bridge.h"

std::string offline_uuid(const std::string& name);

json native_offlineUuid(const json& args);
