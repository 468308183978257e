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

std::optional<CrackedUrl> crack_url(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string scheme = url.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    CrackedUrl out;
    if (scheme == "https") out.https = true;
    else if (scheme != "http") return std::nullopt;
    if (url.compare(colon + 1, 2, "//") != 0) return std::nullopt;

    std::size_t auth_begin = colon + 3;
    std::size_t auth_end = url.find_first_of("/?#", auth_begin);
    std::string auth = url.substr(auth_begin, auth_end == std::string::npos ? std::string::npos : auth_end - auth_begin);
    // A user name and password in the address are never used.
    if (auto at = auth.rfind('@'); at != std::string::npos) auth.erase(0, at + 1);

    std::string port_text;
    if (!auth.empty() && auth[0] == '[') {
        auto close = auth.find(']');
        if (close == std::string::npos) return std::nullopt;
        out.host = auth.substr(1, close - 1);
        std::string after = auth.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return std::nullopt;
            port_text = after.substr(1);
        }
    } else {
        auto pc = auth.find(':');
        out.host = auth.substr(0, pc);
        if (pc != std::string::npos) port_text = auth.substr(pc + 1);
    }
    if (out.host.empty()) return std::nullopt;

    int port = 0;
    if (port_text.size() > 5) return std::nullopt;
    for (char c : port_text) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port > 65535) return std::nullopt;
    out.port = port != 0 ? port : (out.https ? 443 : 80);

    out.target = auth_end == std::string::npos ? std::string() : url.substr(auth_end);
    if (out.target.empty()) out.target = "/";
    return out;
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
