// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/old_index.h"

#include <cstring>
#include <vector>

#include "platform/text.h"

namespace orb {

namespace {

const unsigned char* Bytes(std::string_view data, uint64_t at) {
    return reinterpret_cast<const unsigned char*>(data.data()) + at;
}

}  // namespace

bool HasNewIndexMagic(std::string_view data) {
    return data.size() >= kMagicSize && std::memcmp(data.data(), kIndexMagic, kMagicSize) == 0;
}

bool ParseOldIndex(std::string_view data, OldIndexContent& out, std::string* error) {
    out.tree.Clear();
    out.remark = {};
    out.cover = {};
    auto fail = [&](const char* reason) {
        out.tree.Clear();
        if (error) *error = reason;
        return false;
    };
    const uint64_t size = data.size();
    if (size < kOldHeaderSize) return fail("文件太短，不是旧版索引文件");
    if (size > INT32_MAX) return fail("文件太大，不是旧版索引文件");

    IndexHeader& h = out.header;
    h = IndexHeader{};
    SetHeaderLabel(
        h, FromFixed(reinterpret_cast<const char*>(Bytes(data, kOldLabelAt)), kOldLabelSize));
    h.capacity = GetLE32(Bytes(data, kOldCapacityAt));
    h.fileCount = GetLE32(Bytes(data, kOldFileCountAt));
    h.dirCount = GetLE32(Bytes(data, kOldDirCountAt));
    const uint32_t remarkLength = GetLE32(Bytes(data, kOldRemarkLengthAt));
    const uint32_t coverSize = GetLE32(Bytes(data, kOldCoverSizeAt));

    // Where reading the tree ends is where the remark begins.
    uint64_t position = kOldFirstEntryOffset;
    if (h.fileCount != 0 || h.dirCount != 0) {
        // Every byte of every record read is marked: a link onto a marked byte is a
        // loop or an overlap. This bounds the walk and the tree by the file's size.
        std::vector<bool> used(size, false);
        struct Pending {
            ScanNodeId parent;
            int32_t link;
            bool hidden;  // below a file: read past, not kept
        };
        // An explicit stack, so deep nesting in a damaged file cannot exhaust ours.
        std::vector<Pending> stack{{kNoNode, static_cast<int32_t>(kOldFirstEntryOffset), false}};
        while (!stack.empty()) {
            Pending& top = stack.back();
            if (top.link == kNoLink) {
                stack.pop_back();
                continue;
            }
            if (top.link < static_cast<int32_t>(kOldFirstEntryOffset) ||
                static_cast<uint64_t>(top.link) + kOldRecordFixedSize > size)
                return fail("索引记录的链接超出文件范围");
            const uint64_t at = static_cast<uint64_t>(top.link);
            const unsigned char* rec = Bytes(data, at);
            const size_t n = rec[8];  // only the low byte of the name length counts
            const uint64_t end = at + kOldRecordFixedSize + n;
            if (end > size) return fail("索引记录的名称超出文件末尾");
            for (uint64_t i = at; i < end; ++i) {
                if (used[i]) return fail("索引记录的链接形成循环或相互重叠");
                used[i] = true;
            }
            const int32_t firstChild = static_cast<int32_t>(GetLE32(rec + 0));
            const int32_t nextSibling = static_cast<int32_t>(GetLE32(rec + 4));
            if ((firstChild < 0 && firstChild != kNoLink) ||
                (nextSibling < 0 && nextSibling != kNoLink))
                return fail("索引记录的链接超出文件范围");

            std::string_view name(reinterpret_cast<const char*>(rec + kOldRecordFixedSize), n);
            // The new record stores the name up to its terminator.
            name = name.substr(0, name.find('\0'));
            FILETIME time;
            time.dwLowDateTime = GetLE32(rec + 24);
            time.dwHighDateTime = GetLE32(rec + 28);
            const uint64_t entrySize =
                (static_cast<uint64_t>(GetLE32(rec + 16)) << 32) | GetLE32(rec + 20);
            // Flags, size and time (old bytes 12 to 31) go over unchanged.
            const uint32_t flags = GetLE32(rec + 12);
            const bool hidden = top.hidden;
            const ScanNodeId node =
                hidden ? kNoNode : out.tree.Append(top.parent, flags, entrySize, time, name);
            position = end;
            top.link = nextSibling;  // the siblings come after this node's contents
            // Only a directory has contents: what a file's child link leads to is
            // read past (the remark follows the last record) but not kept, since no
            // reader of the new format would ever list it.
            if (firstChild != kNoLink)
                stack.push_back({node, firstChild, hidden || (flags & kEntryDirectory) == 0});
        }
    }

    if (position + remarkLength + coverSize > size) {
        return fail("备注或封面超出文件末尾");
    }
    out.remark = data.substr(static_cast<size_t>(position), remarkLength);
    out.cover = data.substr(static_cast<size_t>(position) + remarkLength, coverSize);
    return true;
}

}  // namespace orb
