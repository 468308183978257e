#include "net/winhttp_url_posix.h"

#include <algorithm>
#include <cctype>

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

std::string escape_target(const std::string& target) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.empty() || (out[0] != '/' && out[0] != '?' && out[0] != '#')) out.insert(0, "/");
    return out;
}
