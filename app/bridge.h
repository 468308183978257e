// The road between the page and the native side: bindings, replies, events.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "webview/json_text.h"

using json = nlohmann::json;

using SyncHandler = std::function<json(const json& args)>;
using AsyncHandler = std::function<void(const std::string& id, const json& args)>;

void bind_sync(const std::string& name, SyncHandler handler);
void bind_async(const std::string& name, AsyncHandler handler);

// Settles a pending page call (any thread); dropped after shutdown began.
void resolve_call(const std::string& id, int status, const json& value);

// Sends window[event](data) to the page when it defines that function.
void js_call(const std::string& event, const json& data);

// Compact, UTF-8 unescaped, invalid UTF-8 replaced by U+FFFD.
using webview::json_to_text;

// Invalid JSON gives an empty array; anything valid passes unchanged.
json parse_args(const std::string& request);

std::string arg_string(const json& args, size_t i, const std::string& def);
// The fourth argument (index 3) when it is a boolean.
bool arg_bool(const json& args, bool def);
