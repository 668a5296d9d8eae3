// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/orbtool/output.h"

#include <cstdio>
#include <ctime>

#include "audit/export.h"
#include "platform/text.h"

namespace orbtool {

std::string JsonString(std::string_view utf8) {
    return orb::JsonQuote(utf8);  // one JSON quoting for the exports and the command line
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
