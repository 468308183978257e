// WinHTTP's send and receive time-outs over libcurl, which has only a
// whole-transfer limit: a transfer ends once neither of its byte counts has
// moved for longer than the time-out of the way it is waiting.
#pragma once

#include <chrono>
#include <cstdint>

class SilenceTimer {
public:
    // Called with the counts so far; true once they have stood still for
    // longer than limit.
    bool too_long(std::int64_t down, std::int64_t up, std::chrono::milliseconds limit) {
        auto now = std::chrono::steady_clock::now();
        if (down != last_down_ || up != last_up_) {
            last_down_ = down;
            last_up_ = up;
            last_activity_ = now;
            return false;
        }
        return now - last_activity_ > limit;
    }

private:
    std::int64_t last_down_ = -1, last_up_ = -1;
    std::chrono::steady_clock::time_point last_activity_ = std::chrono::steady_clock::now();
};
