#include "services/offline_uuid.h"

#include <cstdio>

#include "services/md5.h"

std::string offline_uuid(const std::string& name) {
    static const char prefix[] = "OfflinePlayer:";
    std::string message;
    message.reserve(sizeof prefix - 1 + name.size());
    message.append(prefix).append(name);
    Md5Digest d = md5_digest(message);
    d[6] = static_cast<std::uint8_t>((d[6] & 0x0F) | 0x30);
    d[8] = static_cast<std::uint8_t>((d[8] & 0x3F) | 0x80);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", d[0], d[1],
                  d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
    return buf;
}

json native_offlineUuid(const json& args) { return offline_uuid(arg_string(args, 0, "")); }
