// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/convert/old_layout.h"

#include "index/index_format.h"

namespace orb::test {

namespace {

void Put32(std::string& s, size_t at, uint32_t v) {
    PutLE32(reinterpret_cast<unsigned char*>(s.data()) + at, v);
}

// Appends list in depth-first order and links it, as the old writer did.
void AppendList(std::string& out, const std::vector<OldEntry>& list, uint32_t highBits,
                size_t parentAt, bool hasParent) {
    size_t previousAt = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const OldEntry& e = list[i];
        const size_t at = out.size();
        if (i > 0)
            Put32(out, previousAt + 4, static_cast<uint32_t>(at));
        else if (hasParent)
            Put32(out, parentAt, static_cast<uint32_t>(at));
        std::string rec(32, '\0');
        Put32(rec, 0, 0xFFFFFFFFu);
        Put32(rec, 4, 0xFFFFFFFFu);
        Put32(rec, 8, static_cast<uint32_t>(e.name.size() & 0xFF) | highBits);
        Put32(rec, 12, e.directory ? 1u : 0u);
        Put32(rec, 16, static_cast<uint32_t>(e.size >> 32));
        Put32(rec, 20, static_cast<uint32_t>(e.size));
        Put32(rec, 24, static_cast<uint32_t>(e.time));
        Put32(rec, 28, static_cast<uint32_t>(e.time >> 32));
        out += rec;
        out += e.name.substr(0, 255);
        AppendList(out, e.children, highBits, at, true);
        previousAt = at;
    }
}

}  // namespace

uint32_t CountDirectories(const std::vector<OldEntry>& list) {
    uint32_t n = 0;
    for (const OldEntry& e : list) n += (e.directory ? 1 : 0) + CountDirectories(e.children);
    return n;
}

uint32_t CountFiles(const std::vector<OldEntry>& list) {
    uint32_t n = 0;
    for (const OldEntry& e : list) n += (e.directory ? 0 : 1) + CountFiles(e.children);
    return n;
}

std::string BuildOldIndex(const OldIndex& index) {
    std::string out(84, '\0');
    out.replace(0, 4, "OLD2");  // bytes 0-3 are never read
    out.replace(4, std::min<size_t>(index.label.size(), 52), index.label.substr(0, 52));
    Put32(out, 56, index.capacity);
    Put32(out, 60, index.dirCount.value_or(CountDirectories(index.top)));
    Put32(out, 64, index.fileCount.value_or(CountFiles(index.top)));
    AppendList(out, index.top, index.nameLengthHighBits, 0, false);
    const uint32_t recordsEnd = static_cast<uint32_t>(out.size());
    Put32(out, 68, recordsEnd);
    Put32(out, 72, static_cast<uint32_t>(index.remark.size()));
    Put32(out, 76, recordsEnd + static_cast<uint32_t>(index.remark.size()));
    Put32(out, 80, static_cast<uint32_t>(index.cover.size()));
    out += index.remark;
    out += index.cover;
    return out;
}

uint32_t OldRecordsEnd(const OldIndex& index) {
    std::string bytes = BuildOldIndex(index);
    return static_cast<uint32_t>(bytes.size() - index.remark.size() - index.cover.size());
}

}  // namespace orb::test
