// The one way JSON becomes text on the road to the page.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace webview {

// Compact, UTF-8 unescaped, invalid UTF-8 replaced by U+FFFD.
std::string json_to_text(const nlohmann::json& value);

}  // namespace webview
