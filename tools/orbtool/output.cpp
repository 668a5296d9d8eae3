// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/orbtool/output.h"

#include <cstdio>
#include <ctime>

#include "platform/text.h"

namespace orbtool {

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string TerminalText(std::string_view stored) {
    std::string host = orb::StoredToHost(stored), out;
    for (unsigned char c : host) {
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string UtcTime(const orb::FILETIME& ft) {
    time_t t = static_cast<time_t>(orb::FileTimeToUnixSeconds(ft));
    struct tm tm {};
    if (!gmtime_r(&t, &tm)) return "?";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

}  // namespace orbtool
