// Folder listings for the page, in the order the file system delivers them.
#pragma once

#include "app/bridge.h"

// Names V of folders under <game>/versions that hold an entry V.json.
json native_listVersions(const json& args);
// {"dir","name","size"} for every entry of a folder.
json native_listDir(const json& args);
