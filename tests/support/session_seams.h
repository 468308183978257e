// What tests change in the current session, reaching into each platform's
// session rather than widening the product's interface.
#pragma once

#include <filesystem>

// Short time-outs, so tests of silent servers end quickly.
void set_test_session_timeouts(int resolve_ms, int connect_ms, int send_ms, int receive_ms);

// Trusts the certificate authority in a PEM file besides the system's;
// false where the session cannot be told (WinHTTP reads only the system's
// store).
bool trust_test_authority(const std::filesystem::path& pem);
