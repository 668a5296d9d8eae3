// SPDX-License-Identifier: GPL-3.0-or-later
// Text that orbtool writes: JSON strings, terminal-safe names, UTC times.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace orbtool {

// A JSON string literal (quotes included) of UTF-8 text.
std::string JsonString(std::string_view utf8);
// Stored text decoded for the terminal, control characters shown as \xNN so a
// hostile name cannot drive the terminal.
std::string TerminalText(std::string_view stored);
// ISO 8601 UTC, e.g. 2023-11-14T22:13:20Z ("?" when out of range).
std::string UtcTime(const orb::FILETIME& ft);

}  // namespace orbtool
