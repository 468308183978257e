// One synchronous HTTP request on the shared session, with the body handed
// on in pieces; WinHTTP on Windows, the same contract over libcurl on Linux.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/session.h"

// Request headers (name, value), sent in list order.
using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Gets each piece of the response body (at most receive_piece bytes, valid
// only during the call); false stops the transfer.
using ChunkCallback = std::function<bool(const char* data, std::uint64_t size)>;

constexpr std::size_t receive_piece = 65536;
constexpr std::size_t upload_piece = 262144;
// Bodies travel with a 32-bit declared length.
constexpr std::uint64_t max_body_bytes = 0xFFFFFFFFull;

// Members of an object whose values are strings, in key order; anything
// that is not an object gives an empty list.
HeaderList headers_from_json(const nlohmann::json& value);

// True when the whole response arrived and went to on_data (any status).
// status: 0 on entry, the response's code once its head has arrived.
// err: replaced on failure only.
bool http_request(const std::string& method, const std::string& url, const HeaderList& headers,
                  const std::optional<std::string>& body,
                  const std::optional<std::filesystem::path>& upload_file, const ChunkCallback& on_data,
                  int& status, std::string& err);

// GET; a status of 400 or more is a failure ("HTTP N — url") and its body
// is read but not handed on.
bool http_fetch(const std::string& url, const ChunkCallback& on_data, std::string& err,
                const HeaderList& headers = {});

// --- shared pieces of both halves ---

// "name: value\r\n" for each pair, in order; empty for an empty list.
std::string header_block(const HeaderList& headers);

// The verb must be an HTTP token and header names tokens without CR, LF
// or NUL in their values, so nothing the page passes can add lines to the
// request.
bool request_line_safe(const std::string& method, const HeaderList& headers);

namespace http_text {
inline const std::string no_session = "WinHTTP не инициализирован";
inline const std::string no_request = "Не удалось создать запрос";
inline const std::string cancelled = "Отменено";
inline const std::string body_too_large = "Тело запроса слишком большое для отправки (4 ГиБ или больше)";
std::string bad_url(const std::string& url);
std::string no_connect(const std::string& host);
std::string no_file(const std::string& path);
std::string file_too_large(const std::string& path);
std::string file_read_failed(const std::string& path);
std::string network(unsigned long code, const std::string& url);
std::string broken(const std::string& url);
std::string read_failed(const std::string& url);
std::string http_status(int status, const std::string& url);
}  // namespace http_text
