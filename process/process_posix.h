// Linux half of the output decoding, open to tests.
#pragma once

#include <string>

// bytes decoded from charset (an iconv name) to UTF-8; every byte that
// cannot be decoded becomes U+FFFD. Without a converter for charset every
// invalid UTF-8 sequence becomes U+FFFD.
std::string charset_to_utf8(const std::string& bytes, const char* charset);
