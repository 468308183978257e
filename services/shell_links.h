// Hands the game's links, store links, web links and add-on files to the
// shell; everything else is refused.
#pragma once

#include <array>
#include <string>

#include "app/bridge.h"
#include "app/helpers.h"

inline const std::array<std::u16string, 4> addon_extensions = {u".mcpack", u".mcaddon", u".mcworld", u".mctemplate"};

// A link by prefix, or an existing entry with an add-on extension.
bool shell_target_allowed(const std::string& target);

// The shell's "open" with the main window as owner; true when the shell
// reports success (platform half).
bool shell_launch(const std::string& target);

json native_shellOpen(const json& args);
