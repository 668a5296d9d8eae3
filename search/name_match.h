// SPDX-License-Identifier: GPL-3.0-or-later
// Where a keyword matched an entry's name, for showing the matched characters:
// the same tests the search engine makes, reporting the place instead of yes/no.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orb {

struct NameMatchSpan {
    size_t begin = 0;  // byte offsets in the stored name, on character boundaries
    size_t end = 0;
};

// The part of a stored name that keyword matches under the search options: in a
// directory's name or a file's base (the extension never carries a match), the
// literal match first, else, with SF_PINYIN, the leftmost pinyin run. False when
// the name does not match (a hit found by its annotation).
bool FindNameMatch(std::string_view storedName, bool isDirectory, std::string_view keyword,
                   uint8_t options, NameMatchSpan& span);

}  // namespace orb
