// MD5 (RFC 1321). Used for name-based identifiers, not for security.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using Md5Digest = std::array<std::uint8_t, 16>;

Md5Digest md5_digest(const std::string& message);
