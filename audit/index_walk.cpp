// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/index_walk.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace orb {

bool WalkIndex(CIndexReader& reader,
               const std::function<bool(const IndexEntry&, int32_t, const std::string&)>& visit,
               const std::atomic<bool>* stop) {
    struct Frame {
        IndexEntry entry;
        int32_t id;
        size_t pathLength;  // the level's path is path[0, pathLength)
    };
    std::vector<Frame> stack;
    std::string path;
    uint64_t budget = reader.MaxEntryCount();
    IndexEntry e;
    if (!reader.ReadFirstEntry(nullptr, e)) return true;
    stack.push_back({e, kFirstEntryId, 0});
    while (!stack.empty()) {
        if (budget-- == 0) return false;
        if (stop && stop->load(std::memory_order_relaxed)) return false;
        Frame& top = stack.back();
        path.resize(top.pathLength);
        const IndexEntry current = top.entry;
        const int32_t id = top.id;
        if (!visit(current, id, path)) return false;
        // Move this level on before descending, so the stack holds only what is
        // still to come.
        IndexEntry next;
        if (reader.ReadNextEntry(current, next)) {
            top.entry = next;
            top.id = current.nextSibling;
        } else {
            stack.pop_back();
        }
        if (current.IsDirectory() && current.firstChild != kNoLink &&
            reader.ReadFirstEntry(&current, e)) {
            path.append(current.Name());
            path += '\\';
            stack.push_back({e, current.firstChild, path.size()});
        }
    }
    return true;
}

std::vector<IdentifiedEntry> ListIndexLevel(CIndexReader& reader, const IndexEntry* parent,
                                            uint64_t limit) {
    std::vector<IdentifiedEntry> out;
    IndexEntry e;
    if (!reader.ReadFirstEntry(parent, e)) return out;
    int32_t id = parent ? parent->firstChild : kFirstEntryId;
    do {
        if (out.size() >= limit) break;
        out.push_back({e, id});
        id = e.nextSibling;
    } while (reader.ReadNextEntry(e, e));
    return out;
}

namespace {
constexpr size_t kFlatBlock = size_t{1} << 20;
// Records held whole for directory tracking: about two million entries.
constexpr uint64_t kMaxTrackedBytes = uint64_t{64} << 20;
}  // namespace

CFlatRecords::~CFlatRecords() {
    if (fd_ >= 0) ::close(fd_);
}

bool CFlatRecords::Open(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = OpenShared(path, OpenMode::ReadShareAll);
    done_ = true;
    whole_ = false;
    if (fd_ < 0) return false;
    unsigned char head[kFirstEntryOffset];
    if (!ReadFully(fd_, head, sizeof(head), 0) || std::memcmp(head, kIndexMagic, kMagicSize) != 0)
        return false;
    DecodeHeader(head + kMagicSize, header_);
    recordsEnd_ = header_.remarkOffset;
    if (bufSize_ != kFlatBlock) Allocate(kFlatBlock);
    pos_ = len_ = 0;
    bufAt_ = kFirstEntryOffset;
    count_ = 0;
    tracking_ = false;
    done_ = recordsEnd_ < kFirstEntryOffset;
    return true;
}

bool CFlatRecords::Fill(size_t need) {
    if (len_ - pos_ >= need) return true;
    if (!tracking_) {  // tracked records stay where they were read, for their names
        std::memmove(buf_.get(), buf_.get() + pos_, len_ - pos_);
        bufAt_ += pos_;
        len_ -= pos_;
        pos_ = 0;
    }
    const uint64_t fileAt = bufAt_ + len_;
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(bufSize_ - len_, recordsEnd_ > fileAt ? recordsEnd_ - fileAt : 0));
    for (size_t got = 0; got < want;) {
        ssize_t r = ::pread(fd_, buf_.get() + len_, want - got, static_cast<off_t>(fileAt + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
        len_ += static_cast<size_t>(r);
    }
    return len_ - pos_ >= need;
}

bool CFlatRecords::Next(FlatRecord& out) {
    if (done_) return false;
    const uint64_t at = bufAt_ + pos_;
    if (at >= recordsEnd_) {
        done_ = true;
        whole_ = at == recordsEnd_ && count_ == uint64_t{header_.fileCount} + header_.dirCount;
        return false;
    }
    if (!Fill(kRecordFixedSize) || !Fill(kRecordFixedSize + buf_[pos_ + 28]) ||
        at + kRecordFixedSize + buf_[pos_ + 28] > recordsEnd_) {
        done_ = true;  // a record cut off: not what the writers make
        return false;
    }
    const unsigned char* r = buf_.get() + pos_;
    const size_t n = r[28];
    out.id = at == kFirstEntryOffset ? kFirstEntryId : static_cast<int32_t>(at);
    out.flags = GetLE32(r + 8);
    out.size = (uint64_t{GetLE32(r + 12)} << 32) | GetLE32(r + 16);
    out.writeTime.dwLowDateTime = GetLE32(r + 20);
    out.writeTime.dwHighDateTime = GetLE32(r + 24);
    out.name = std::string_view(reinterpret_cast<const char*>(r + kRecordFixedSize), n);
    if (tracking_) {
        const int32_t here = static_cast<int32_t>(at);
        out.dir = kFlatUnreached;
        if (at == kFirstEntryOffset) {
            out.dir = kFlatTopLevel;
        } else {
            const Slot& slot = slots_[(at - kFirstEntryOffset) / kRecordFixedSize];
            if (slot.at == here) out.dir = slot.dir;
        }
        // An entry no link reaches is not in the tree: nothing leads on from it.
        if (out.dir != kFlatUnreached) {
            Link(here, static_cast<int32_t>(GetLE32(r + 4)), out.dir);
            if (out.IsDirectory()) {
                dirs_.push_back({out.dir, out.name});
                Link(here, static_cast<int32_t>(GetLE32(r + 0)),
                     static_cast<int32_t>(dirs_.size() - 1));
            }
        }
    }
    pos_ += kRecordFixedSize + n;
    ++count_;
    return true;
}

bool CFlatRecords::TrackDirectories() {
    if (done_ || recordsEnd_ - kFirstEntryOffset > kMaxTrackedBytes) return false;
    const size_t bytes = static_cast<size_t>(recordsEnd_ - kFirstEntryOffset);
    if (bufSize_ < bytes) Allocate(bytes);
    pos_ = len_ = 0;
    slots_.assign(bytes / kRecordFixedSize + 1, Slot{});
    dirs_.clear();
    dirs_.reserve(std::min<size_t>(header_.dirCount, slots_.size()));
    tracking_ = true;
    return true;
}

void CFlatRecords::Link(int32_t from, int32_t to, int32_t dir) {
    // Only forward links inside the records lead anywhere, as in the tree walk;
    // the first link to a record decides its directory.
    if (to <= from || static_cast<uint64_t>(to) >= recordsEnd_) return;
    Slot& slot = slots_[(static_cast<uint64_t>(to) - kFirstEntryOffset) / kRecordFixedSize];
    if (slot.at >= 0) return;
    slot.at = to;
    slot.dir = dir;
}

std::string CFlatRecords::DirPath(int32_t dir) const {
    std::vector<std::string_view> names;
    // Each directory was met after its parent, so the chain only goes back.
    for (; dir >= 0 && static_cast<size_t>(dir) < dirs_.size() && names.size() <= dirs_.size();
         dir = dirs_[static_cast<size_t>(dir)].parent)
        names.push_back(dirs_[static_cast<size_t>(dir)].name);
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path.append(*it);
        path += '\\';
    }
    return path;
}

}  // namespace orb
