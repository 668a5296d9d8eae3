// SPDX-License-Identifier: GPL-3.0-or-later
// The matched part of a name: literal first, then pinyin, as the engine tests.
#include "search/name_match.h"

#include <string>

#include "index/index_reader.h"
#include "platform/text.h"
#include "search/pinyin_match.h"

namespace orb {

namespace {

// The character boundary at or before offset.
size_t BoundaryBefore(std::string_view s, size_t offset) {
    size_t at = 0;
    for (size_t i = 0; i < s.size();) {
        size_t n = StoredCharLength(s.data() + i, s.data() + s.size());
        if (i + n > offset) break;
        i += n;
        at = i;
    }
    return at;
}

}  // namespace

bool FindNameMatch(std::string_view storedName, bool isDirectory, std::string_view keyword,
                   uint8_t options, NameMatchSpan& span) {
    const bool matchCase = (options & SF_MATCHCASE) != 0;
    const bool whole = (options & SF_WHOLENAME) != 0;
    std::string_view text = storedName;
    if (!isDirectory) {
        size_t dot = storedName.rfind('.');
        if (dot != std::string_view::npos) text = storedName.substr(0, dot);
    }
    const std::string folded = matchCase ? std::string(text) : LowerAZCopy(text);
    const std::string key = matchCase ? std::string(keyword) : LowerAZCopy(keyword);
    if (whole) {
        if (folded == key) {
            span = {0, text.size()};
            return true;
        }
    } else if (!key.empty()) {
        // Directories are searched byte by byte, file bases character by character.
        size_t at = isDirectory ? FindBytes(folded, key) : FindChars(folded, key);
        if (at != std::string_view::npos) {
            size_t end = at + key.size();
            span.begin = BoundaryBefore(text, at);
            span.end = BoundaryBefore(text, end);
            if (span.end < end)
                span.end += StoredCharLength(text.data() + span.end, text.data() + text.size());
            return true;
        }
    }
    if (options & SF_PINYIN) {
        CPinyinMatcher pinyin(keyword, matchCase);
        return pinyin.Find(text, whole, span.begin, span.end);
    }
    return false;
}

}  // namespace orb
