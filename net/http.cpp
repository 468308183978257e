#include "net/http.h"

#include <algorithm>
#include <cctype>

HeaderList headers_from_json(const nlohmann::json& value) {
    HeaderList list;
    if (!value.is_object()) return list;
    for (auto it = value.begin(); it != value.end(); ++it)
        if (it->is_string()) list.emplace_back(it.key(), it->get<std::string>());
    return list;
}

bool http_fetch(const std::string& url, const ChunkCallback& on_data, std::string& err, const HeaderList& headers) {
    int status = 0;
    // An error page's body is drained but never reaches the caller.
    ChunkCallback pass = [&](const char* data, std::uint64_t size) {
        if (status >= 400) return true;
        return on_data(data, size);
    };
    if (!http_request("GET", url, headers, std::nullopt, std::nullopt, pass, status, err)) return false;
    if (status >= 400) {
        err = http_text::http_status(status, url);
        return false;
    }
    return true;
}

std::string header_block(const HeaderList& headers) {
    std::string block;
    for (const auto& [name, value] : headers) block += name + ": " + value + "\r\n";
    return block;
}

namespace {
bool is_token(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s) {
        if (std::isalnum(c)) continue;
        if (std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) == std::string_view::npos) return false;
    }
    return true;
}
}  // namespace

bool request_line_safe(const std::string& method, const HeaderList& headers) {
    if (!is_token(method)) return false;
    for (const auto& [name, value] : headers) {
        if (!is_token(name)) return false;
        if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
    }
    return true;
}

namespace http_text {
std::string bad_url(const std::string& url) { return "Некорректный URL: " + url; }
std::string no_connect(const std::string& host) { return "Не удалось подключиться к " + host; }
std::string no_file(const std::string& path) { return "Не удалось открыть файл " + path; }
std::string file_too_large(const std::string& path) {
    return "Файл слишком большой для отправки (4 ГиБ или больше): " + path;
}
std::string file_read_failed(const std::string& path) { return "Не удалось прочитать файл " + path; }
std::string network(unsigned long code, const std::string& url) {
    return "Ошибка сети (" + std::to_string(code) + "): " + url;
}
std::string broken(const std::string& url) { return "Обрыв соединения: " + url; }
std::string read_failed(const std::string& url) { return "Ошибка чтения: " + url; }
std::string http_status(int status, const std::string& url) {
    return "HTTP " + std::to_string(status) + " — " + url;
}
}  // namespace http_text
