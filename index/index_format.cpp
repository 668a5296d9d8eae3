// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/index_format.h"

#include <cstring>

#include "platform/text.h"

namespace orb {

std::string_view IndexEntry::Name() const {
    return FromFixed(name, sizeof(name));
}

void IndexEntry::SetName(std::string_view storedName) {
    CopyToFixed(name, kMaxNameBytes + 1, storedName);
    std::memset(name + kMaxNameBytes + 1, 0, sizeof(name) - kMaxNameBytes - 1);
}

void EncodeHeader(const IndexHeader& h, unsigned char out[kHeaderSize]) {
    std::memset(out, 0, kHeaderSize);
    out[0] = h.space;
    std::memcpy(out + 1, h.label, kLabelSize);
    std::memcpy(out + 51, h.reserved, 5);
    PutLE64(out + 56, h.capacity);
    PutLE32(out + 64, h.fileCount);
    PutLE32(out + 68, h.dirCount);
    PutLE32(out + 72, h.remarkOffset);
    PutLE32(out + 76, h.remarkLength);
    PutLE32(out + 80, h.coverOffset);
    PutLE32(out + 84, h.coverSize);
}

void DecodeHeader(const unsigned char in[kHeaderSize], IndexHeader& h) {
    h.space = in[0];
    std::memcpy(h.label, in + 1, kLabelSize);
    std::memcpy(h.reserved, in + 51, 5);
    h.capacity = GetLE64(in + 56);
    h.fileCount = GetLE32(in + 64);
    h.dirCount = GetLE32(in + 68);
    h.remarkOffset = GetLE32(in + 72);
    h.remarkLength = GetLE32(in + 76);
    h.coverOffset = GetLE32(in + 80);
    h.coverSize = GetLE32(in + 84);
}

void AppendRecord(std::string& out, int32_t firstChild, int32_t nextSibling, uint32_t flags,
                  uint64_t size, const FILETIME& time, std::string_view name) {
    if (name.size() > kMaxNameBytes) name = CutAtCharBoundary(name, kMaxNameBytes);
    unsigned char fixed[kRecordFixedSize];
    PutLE32(fixed + 0, static_cast<uint32_t>(firstChild));
    PutLE32(fixed + 4, static_cast<uint32_t>(nextSibling));
    PutLE32(fixed + 8, flags);
    PutLE32(fixed + 12, static_cast<uint32_t>(size >> 32));  // high half first
    PutLE32(fixed + 16, static_cast<uint32_t>(size));
    PutLE32(fixed + 20, time.dwLowDateTime);
    PutLE32(fixed + 24, time.dwHighDateTime);
    fixed[28] = static_cast<unsigned char>(name.size());
    out.append(reinterpret_cast<const char*>(fixed), sizeof(fixed));
    out.append(name.data(), name.size());
}

void DecodeEntryFixed(const unsigned char in[kEntryFixedSize], IndexEntry& e) {
    e.firstChild = static_cast<int32_t>(GetLE32(in + 0));
    e.nextSibling = static_cast<int32_t>(GetLE32(in + 4));
    e.flags = GetLE32(in + 8);
    e.sizeHigh = GetLE32(in + 12);
    e.sizeLow = GetLE32(in + 16);
    e.writeTime.dwLowDateTime = GetLE32(in + 20);
    e.writeTime.dwHighDateTime = GetLE32(in + 24);
}

std::string CompanionPath(const std::string& indexPath) {
    if (indexPath.empty()) return indexPath;
    std::string p = indexPath;
    p.back() = 'c';
    return p;
}

std::string_view HeaderLabel(const IndexHeader& h) {
    return FromFixed(h.label, kLabelSize);
}

void SetHeaderLabel(IndexHeader& h, std::string_view storedLabel) {
    CopyToFixed(h.label, kLabelSize, storedLabel);
}

std::string_view LabelAsInHeader(std::string_view storedLabel) {
    storedLabel = storedLabel.substr(0, storedLabel.find('\0'));
    return CutAtCharBoundary(storedLabel, kLabelSize - 1);
}

}  // namespace orb
