// One request and its answer over libcurl on an easy handle of the session:
// the request goes out with exactly the given headers, every response head
// is read, and only the answer's body reaches on_data. A redirect is
// reported to the caller, never followed here.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "net/http.h"
#include "net/session_posix.h"

// A request body of a length fixed before sending: a file or bytes.
struct RequestBody {
    std::FILE* file = nullptr;
    const std::string* bytes = nullptr;
    std::uint64_t length = 0;
    std::uint64_t sent = 0;
    bool read_failed = false;  // the file ended or failed before its length
    // Back to the first byte, to be sent again; false when that fails.
    bool rewind();
};

struct Exchange {
    std::string address;  // absolute and escaped
    std::string method;   // sent as given
    const HeaderList* headers = nullptr;
    RequestBody* body = nullptr;  // null: no body
    // Whether a head with this code (and a Location or not) is a redirect
    // the caller follows, so that it is not the answer.
    bool (*follows)(long code, bool has_location) = nullptr;
};

struct ExchangeResult {
    CURLcode rc = CURLE_OK;
    int heads = 0;          // response heads seen, interim ones included
    bool answered = false;  // the answer's head arrived: status is set
    bool redirect = false;  // the last head is a redirect to follow
    long code = 0;          // of the last head
    std::string location;   // the redirect's target, absolute
    bool stopped = false;   // on_data said no
    bool timed_out = false;  // silent for longer than the session allows
    bool header_failed = false;  // the header list could not be built
};

// Sets status to the answer's code once its head has arrived.
ExchangeResult run_exchange(CurlSession* session, CURL* h, const Exchange& request, const ChunkCallback& on_data,
                            int& status);
