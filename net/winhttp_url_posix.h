// Addresses as WinHTTP reads and sends them, for the Linux half only: the
// Windows build has WinHttpCrackUrl and WinHTTP's own escaping.
#pragma once

#include <optional>
#include <string>

// An address split the way WinHttpCrackUrl splits it: user name and
// password dropped, the scheme's port when none is written.
struct CrackedUrl {
    bool https = false;
    std::string host;    // without brackets for IPv6 literals
    int port = 0;
    std::string target;  // path + query + fragment, "/" when all are empty
};
std::optional<CrackedUrl> crack_url(const std::string& url);


// The target as WinHTTP sends it: spaces, controls and non-ASCII bytes
// escaped, everything else (a '%' too) as written, and a leading "/".
std::string escape_target(const std::string& target);
