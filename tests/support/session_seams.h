// What tests change in the current session, reaching into each platform's
// session rather than widening the product's interface.
#pragma once

#include <filesystem>

// Short time-outs, so tests of silent servers end quickly.
void set_test_session_timeouts(int resolve_ms, int connect_ms, int send_ms, int receive_ms);

// Trusts the certificate authority in a PEM file besides the system's
// while it lives. On Linux the session is told; on Windows, where WinHTTP
// reads only the system's store, the certificate goes into the current
// user's root store and out again (Wine asks nobody; Windows would ask).
class TestAuthority {
public:
    explicit TestAuthority(const std::filesystem::path& pem);
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;
    bool trusted() const { return trusted_; }

private:
    std::filesystem::path pem_;
    bool trusted_ = false;
};
