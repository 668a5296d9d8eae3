// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/index_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/drives.h"
#include "platform/lock_file.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr const char* kErrOpenFailed = "打开文件失败!";
constexpr const char* kErrUnsupported = "您试图打开一个本软件不支持的文件!";
constexpr const char* kErrNotOpen = "文件没有打开!";
constexpr const char* kErrBadPicture = "该图片文件格式本软件不支持!";
constexpr const char* kErrWriteFailed = "写入文件失败!";
constexpr const char* kErrCompanionFailed = "注释文件保存失败!";
constexpr const char* kErrDamagedLayout = "索引文件已损坏（备注或封面的位置不对），文件未作改动!";
constexpr const char* kErrIndexMoved = "光盘索引已被改名、移动或删除，注释没有保存!";
constexpr const char* kErrIndexGone = "光盘索引已被改名、移动或删除，文件未作改动!";
constexpr const char* kErrOpenElsewhere = "该光盘索引正在别处打开并被写入，现只能读取，不能修改!";
constexpr const char* kErrBusy = "另一个程序正在保存该光盘的文件，请稍后再试!";
constexpr size_t kCacheBlock = 256 * 1024;
constexpr size_t kCacheAlign = 4096;
constexpr size_t kCopyChunk = size_t{1} << 20;

uint64_t FdSize(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The path an open file has now, if it still has one (a renamed file's new name).
std::string CurrentPathOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_nlink == 0) return std::string();
    char buf[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(link.c_str(), buf, sizeof(buf) - 1);
    if (n <= 0 || buf[0] != '/') return std::string();
    return std::string(buf, static_cast<size_t>(n));
}
}  // namespace

bool SameDisc(const IndexHeader& a, const IndexHeader& b) {
    return std::memcmp(a.label, b.label, kLabelSize) == 0 && a.capacity == b.capacity &&
           a.fileCount == b.fileCount && a.dirCount == b.dirCount &&
           a.remarkOffset == b.remarkOffset;
}

int ProbeIndexHeader(const std::string& path, IndexHeader& header) {
    int fd = OpenShared(path, OpenMode::ReadShareAll);
    if (fd < 0) return 0;
    unsigned char buf[kMagicSize + kHeaderSize];
    bool ok = ReadFully(fd, buf, kMagicSize, 0) && std::memcmp(buf, kIndexMagic, kMagicSize) == 0 &&
              ReadFully(fd, buf + kMagicSize, kHeaderSize, kMagicSize);
    ::close(fd);
    if (!ok) return 0;
    DecodeHeader(buf + kMagicSize, header);
    return 1;
}

CIndexReader::CIndexReader() = default;

CIndexReader::~CIndexReader() {
    EndSearchForClose();
    Close();
}

void CIndexReader::EndSearchForClose() {
    if (searchThread_.joinable()) {
        if (searchControl_ && searchControl_->running.load()) {
            // Joining could deadlock: the worker may be blocked in a Send to this very
            // thread. Its index is a private copy, so it can finish on its own.
            searchControl_->detached.store(1);
            searchControl_->abort.store(1);
            searchThread_.detach();
        } else {
            // Past its last notification: only its final few steps remain.
            searchThread_.join();
        }
    }
    searchControl_.reset();
}

const unsigned char* CIndexReader::Load(uint64_t offset, size_t n) {
    if (offset + n > fileSize_ || n > kCacheBlock - kCacheAlign) return nullptr;
    if (!cache_ || cacheCapacity_ < kCacheBlock) {
        cache_.reset(new unsigned char[kCacheBlock]);
        cacheCapacity_ = kCacheBlock;
    }
    // Page-aligned windows that start at the requested record: a forward walk reads
    // each byte of the file once.
    uint64_t start = offset & ~static_cast<uint64_t>(kCacheAlign - 1);
    size_t len = static_cast<size_t>(std::min<uint64_t>(kCacheBlock, fileSize_ - start));
    if (!ReadFully(fd_, cache_.get(), len, start)) {
        cacheLength_ = 0;
        return nullptr;
    }
    cacheOffset_ = start;
    cacheLength_ = len;
    return cache_.get() + (offset - cacheOffset_);
}

bool CIndexReader::LoadWholeFile(uint64_t limit) {
    if (!open_ || fileSize_ > limit || fileSize_ > SIZE_MAX) return false;
    const size_t n = static_cast<size_t>(fileSize_);
    std::unique_ptr<unsigned char[]> whole(
        new (std::nothrow) unsigned char[std::max<size_t>(n, 1)]);
    if (!whole || !ReadFully(fd_, whole.get(), n, 0)) return false;
    cache_ = std::move(whole);
    cacheCapacity_ = n;
    cacheOffset_ = 0;
    cacheLength_ = n;
    return true;
}

const unsigned char* CIndexReader::HoldWholeFile(uint64_t limit, size_t& size) {
    if (!LoadWholeFile(limit)) return nullptr;
    size = cacheLength_;
    return cache_.get();
}

bool CIndexReader::ReadAt(uint64_t offset, void* buf, size_t n) {
    if (offset + n > fileSize_) return false;
    if (n > kCacheBlock / 2) return ReadFully(fd_, buf, n, offset);
    const unsigned char* p = Peek(offset, n);
    if (!p) return false;
    std::memcpy(buf, p, n);
    return true;
}

int CIndexReader::Open(const std::string& path, OpenMode mode) {
    EndSearchForClose();
    if (open_) Close();
    lastError_.clear();

    openElsewhere_ = false;
    int fd = OpenShared(path, mode);
    if (fd < 0) {
        openErrno_ = errno;
        SetError(kErrOpenFailed);
        return 0;
    }
    unsigned char buf[kMagicSize + kHeaderSize];
    if (!ReadFully(fd, buf, kMagicSize, 0) || std::memcmp(buf, kIndexMagic, kMagicSize) != 0 ||
        !ReadFully(fd, buf + kMagicSize, kHeaderSize, kMagicSize)) {
        ::close(fd);
        SetError(kErrUnsupported);
        return 0;
    }
    fd_ = fd;
    mode_ = mode;
    path_ = path;
    fileSize_ = FdSize(fd);
    InvalidateCache();
    DecodeHeader(buf + kMagicSize, header_);

    coverFd_ = -1;
    picture_.reset();
    coverLoaded_ = false;
    LoadAnnotations();
    annotationsChanged_ = false;
    open_ = true;
    return 1;
}

int CIndexReader::OpenPreferWrite(const std::string& path, OpenMode mode) {
    openErrno_ = 0;
    if (Open(path, mode)) return 1;
    if (mode == OpenMode::ReadShareAll || openErrno_ != EBUSY) return 0;
    if (!Open(path, OpenMode::ReadShareAll)) return 0;
    openElsewhere_ = true;
    return 1;
}

void CIndexReader::LoadCover() const {
    if (!open_ || coverLoaded_) return;
    coverLoaded_ = true;
    std::string cover;
    // A cover that lies past the end of a damaged file is not read: the index
    // has no picture.
    uint64_t end = static_cast<uint64_t>(header_.coverOffset) + header_.coverSize;
    if (header_.coverSize != 0 && end <= fileSize_) {
        cover.resize(header_.coverSize);
        if (!ReadFully(fd_, cover.data(), cover.size(), header_.coverOffset)) cover.clear();
    }
    coverFd_ = MakeAnonymousFile(cover);
    if (!cover.empty() && coverFd_ >= 0) picture_ = PictureDecoder().Decode(CoverTempPath());
}

const IPicture* CIndexReader::Picture() const {
    LoadCover();
    return picture_.get();
}

std::string CIndexReader::CoverTempPath() const {
    LoadCover();
    if (coverFd_ < 0) return std::string();
    return "/proc/self/fd/" + std::to_string(coverFd_);
}

std::vector<Annotation> CIndexReader::ParseAnnotations(const std::string& data) {
    std::vector<Annotation> list;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t size = data.size();
    if (size < 4) return list;
    int32_t count = static_cast<int32_t>(GetLE32(p));
    if (count <= 0) return list;
    // Each record needs at least 8 bytes, so the file's size bounds the count.
    size_t fits = (size - 4) / 8;
    size_t want = std::min<size_t>(static_cast<size_t>(count), fits);
    list.reserve(want);
    size_t pos = 4;
    for (size_t i = 0; i < want; ++i) {
        if (size - pos < 8) break;
        int32_t id = static_cast<int32_t>(GetLE32(p + pos));
        int32_t len = static_cast<int32_t>(GetLE32(p + pos + 4));
        pos += 8;
        if (len < 0 || static_cast<size_t>(len) > size - pos) break;  // damaged: keep what was read
        list.push_back({id, std::string(data.data() + pos, static_cast<size_t>(len))});
        pos += static_cast<size_t>(len);
    }
    return list;
}

void CIndexReader::LoadAnnotations() {
    annotations_.clear();
    changedIds_.clear();
    std::string data;
    // Stamped before the read: a change made meanwhile is seen by the next refresh.
    companionStamp_ = StampOfFile(CompanionPath(path_));
    if (ReadWholeFile(CompanionPath(path_), data)) annotations_ = ParseAnnotations(data);
}

void CIndexReader::ApplyOwnChanges(std::vector<Annotation>& into) const {
    for (int32_t id : changedIds_) {
        const std::string* mine = FindAnnotation(id);
        auto it = std::find_if(into.begin(), into.end(),
                               [id](const Annotation& a) { return a.id == id; });
        if (mine && it != into.end())
            it->text = *mine;
        else if (mine)
            into.push_back({id, *mine});
        else if (it != into.end())
            into.erase(it);
    }
}

bool CIndexReader::RefreshAnnotations() {
    if (!open_) return false;
    const std::string companion = CompanionPath(path_);
    const FileStamp now = StampOfFile(companion);
    if (now == companionStamp_) return false;
    std::vector<Annotation> fresh;
    std::string data;
    if (ReadWholeFile(companion, data))
        fresh = ParseAnnotations(data);
    else if (now != FileStamp{})
        return false;  // there but unreadable now: keep what is shown
    companionStamp_ = now;
    ApplyOwnChanges(fresh);
    annotations_ = std::move(fresh);
    return true;
}

bool CIndexReader::MergeAndWriteCompanion(const std::string& companion) {
    // What is there now, with only this reader's edits applied on top.
    std::string data;
    std::vector<Annotation> merged;
    if (ReadWholeFile(companion, data)) merged = ParseAnnotations(data);
    ApplyOwnChanges(merged);
    data.clear();
    unsigned char num[4];
    PutLE32(num, static_cast<uint32_t>(merged.size()));
    data.append(reinterpret_cast<char*>(num), 4);
    for (const Annotation& a : merged) {
        PutLE32(num, static_cast<uint32_t>(a.id));
        data.append(reinterpret_cast<char*>(num), 4);
        PutLE32(num, static_cast<uint32_t>(a.text.size()));
        data.append(reinterpret_cast<char*>(num), 4);
        data.append(a.text);
    }
    if (!ReplaceFileAtomically(companion, data, true)) return false;
    // Written under the lock: no other saver came in between.
    if (companion == CompanionPath(path_)) companionStamp_ = StampOfFile(companion);
    annotations_ = std::move(merged);
    changedIds_.clear();
    annotationsChanged_ = false;
    return true;
}

bool CIndexReader::SaveAnnotations() {
    indexMoved_ = false;
    movedIndexPath_.clear();
    if (!open_) {
        SetError(kErrNotOpen);
        return false;
    }
    if (!annotationsChanged_) return true;
    // The disc's lock keeps other savers, and moves and deletions of the disc by
    // this program anywhere, out until the companion is written.
    CLockFile lock(LockPathFor(path_));
    if (!lock.Lock()) {
        SetError(errno == ETIMEDOUT ? kErrBusy : kErrCompanionFailed);
        return false;
    }
    // A companion is only ever written beside the index it belongs to: one left
    // where the index was would hand its notes to the next disc of that name.
    if (!FollowReplacedIndex()) {
        indexMoved_ = true;
        movedIndexPath_ = CurrentPathOf(fd_);
        SetError(kErrIndexMoved);
        return false;
    }
    if (!MergeAndWriteCompanion(CompanionPath(path_))) {
        SetError(kErrCompanionFailed);
        return false;
    }
    return true;
}

bool CIndexReader::SaveAnnotationsBeside(const std::string& indexPath) {
    if (!open_) {
        SetError(kErrNotOpen);
        return false;
    }
    IndexHeader there;
    CLockFile lock(LockPathFor(indexPath));
    if (!lock.Lock()) {
        SetError(errno == ETIMEDOUT ? kErrBusy : kErrCompanionFailed);
        return false;
    }
    if (!ProbeIndexHeader(indexPath, there) || !SameDisc(there, header_)) {
        SetError(kErrIndexMoved);
        return false;
    }
    if (!MergeAndWriteCompanion(CompanionPath(indexPath))) {
        SetError(kErrCompanionFailed);
        return false;
    }
    indexMoved_ = false;
    movedIndexPath_.clear();
    return true;
}

bool CIndexReader::SaveAnnotationsAs(const std::string& file) {
    if (!open_) {
        SetError(kErrNotOpen);
        return false;
    }
    CLockFile lock(LockPathFor(file));
    if (!lock.Lock()) {
        SetError(errno == ETIMEDOUT ? kErrBusy : kErrCompanionFailed);
        return false;
    }
    if (!MergeAndWriteCompanion(file)) {
        SetError(kErrCompanionFailed);
        return false;
    }
    indexMoved_ = false;
    movedIndexPath_.clear();
    return true;
}

bool CIndexReader::FollowReplacedIndex() {
    struct stat mine {
    }, now{};
    if (fstat(fd_, &mine) != 0) return false;
    if (::stat(path_.c_str(), &now) != 0) return false;
    if (now.st_dev == mine.st_dev && now.st_ino == mine.st_ino) return true;
    IndexHeader there;
    if (!ProbeIndexHeader(path_, there) || !SameDisc(there, header_)) return false;
    return ReopenAt(path_);
}

bool CIndexReader::ReopenAt(const std::string& path) {
    int fd = OpenShared(path, mode_);
    if (fd < 0 && mode_ != OpenMode::ReadShareAll) fd = OpenShared(path, OpenMode::ReadShareAll);
    if (fd < 0) return false;
    unsigned char buf[kMagicSize + kHeaderSize];
    if (!ReadFully(fd, buf, sizeof(buf), 0) || std::memcmp(buf, kIndexMagic, kMagicSize) != 0) {
        ::close(fd);
        return false;
    }
    ::close(fd_);
    fd_ = fd;
    fileSize_ = FdSize(fd);
    InvalidateCache();
    DecodeHeader(buf + kMagicSize, header_);
    // The cover may have changed with the file.
    if (coverFd_ >= 0) ::close(coverFd_);
    coverFd_ = -1;
    coverLoaded_ = false;
    picture_.reset();
    return true;
}

bool CIndexReader::SaveAnnotationsNow() {
    // The merged save keeps the changes and says why when it fails.
    return SaveAnnotations();
}

bool CIndexReader::Close() {
    if (!open_) return true;
    // A running search is stopped and detached, as Open and destruction do: it
    // sends nothing more once the index is closed.
    EndSearchForClose();
    // Saved while the index is still open: the save checks that it is still the
    // file at its path.
    bool ok = SaveAnnotations();
    open_ = false;
    picture_.reset();
    if (coverFd_ >= 0) ::close(coverFd_);
    coverFd_ = -1;
    coverLoaded_ = false;
    ::close(fd_);
    fd_ = -1;
    InvalidateCache();
    annotations_.clear();
    changedIds_.clear();
    annotationsChanged_ = false;
    return ok;
}

int CIndexReader::GetVolumeLabel(std::string& storedLabel) const {
    storedLabel = std::string(HeaderLabel(header_));
    return IsOpen();
}

uint64_t CIndexReader::MaxEntryCount() const {
    if (!open_ || fileSize_ < kFirstEntryOffset) return 0;
    return (fileSize_ - kFirstEntryOffset) / kRecordFixedSize;
}

int CIndexReader::ReadEntryAt(int32_t link, int32_t mustExceed, IndexEntry& out) {
    if (!open_ || link == kNoLink) return 0;
    // Writers append every record after the one that links to it, so a link that
    // does not lead forward (or leaves the file) belongs to a damaged index: the list
    // ends there. This is what bounds every walk by the file's size.
    if (link < static_cast<int32_t>(kFirstEntryOffset) || link <= mustExceed) return 0;
    const uint64_t at = static_cast<uint64_t>(link);
    const unsigned char* record = Peek(at, kRecordFixedSize);
    if (!record) return 0;
    const size_t n = record[28];
    // The same window nearly always holds the name too; Peek reloads otherwise.
    if (at + kRecordFixedSize + n > cacheOffset_ + cacheLength_) {
        record = Peek(at, kRecordFixedSize + n);
        if (!record) return 0;
    }
    DecodeEntryFixed(record, out);
    std::memcpy(out.name, record + kRecordFixedSize, n);
    out.name[n] = '\0';
    out.recordOffset = link;
    return 1;
}

int CIndexReader::ReadFirstEntry(const IndexEntry* parent, IndexEntry& out) {
    if (!open_) return 0;
    if (parent == nullptr) {
        // A disc without entries has offset 92 holding the remark, the cover or
        // nothing; its counts are both 0 and its remark starts at 92.
        if (header_.fileCount == 0 && header_.dirCount == 0) return 0;
        if (header_.remarkOffset == kFirstEntryOffset) return 0;
        return ReadEntryAt(static_cast<int32_t>(kFirstEntryOffset), kNoLink, out);
    }
    return ReadEntryAt(parent->firstChild, parent->recordOffset, out);
}

int CIndexReader::ReadNextEntry(const IndexEntry& current, IndexEntry& out) {
    int32_t link = current.nextSibling;
    int32_t self = current.recordOffset;
    return ReadEntryAt(link, self, out);
}

int CIndexReader::HasSubdirectory(const IndexEntry& directory) {
    IndexEntry e;
    int ok = ReadFirstEntry(&directory, e);
    while (ok) {
        if (e.IsDirectory()) return 1;
        ok = ReadNextEntry(e, e);
    }
    return 0;
}

int CIndexReader::DriveHoldsDisc(const std::string& driveRoot) const {
    if (!open_) return 0;
    auto drives = Drives();
    DiskGeometry g;
    if (!drives->GetDiskFreeSpace(driveRoot, g)) return 0;
    if (g.Capacity() != header_.capacity) return 0;
    std::string label;
    if (!drives->GetVolumeLabel(driveRoot, label)) return 0;
    return LabelAsInHeader(label) == HeaderLabel(header_) ? 1 : 0;
}

int CIndexReader::ReadRemark(std::string& text) {
    text.clear();
    if (!open_) {
        SetError(kErrNotOpen);
        return 0;
    }
    // A damaged length is cut to what the file holds.
    uint64_t off = header_.remarkOffset;
    uint64_t len = header_.remarkLength;
    if (off >= fileSize_) return 1;
    len = std::min<uint64_t>(len, fileSize_ - off);
    text.resize(static_cast<size_t>(len));
    if (len && !ReadFully(fd_, text.data(), text.size(), off)) text.clear();
    return 1;
}

bool CIndexReader::ReadCover(std::string& out) {
    out.clear();
    const uint64_t end = static_cast<uint64_t>(header_.coverOffset) + header_.coverSize;
    if (header_.coverSize == 0 || end > fileSize_) return header_.coverSize == 0;
    out.resize(header_.coverSize);
    return ReadFully(fd_, out.data(), out.size(), header_.coverOffset);
}

int CIndexReader::RewriteVariablePart(const std::string_view* remark, const std::string* cover) {
    // Another window's or machine's rewrite is waited for, and what it wrote is
    // the base of this one: a remark and a cover written at once both survive.
    CLockFile lock(LockPathFor(path_));
    if (!lock.Lock()) {
        SetError(errno == ETIMEDOUT ? kErrBusy : kErrWriteFailed);
        return 0;
    }
    if (!FollowReplacedIndex()) {
        SetError(kErrIndexGone);
        return 0;
    }
    if (!VariablePartConsistent()) {
        SetError(kErrDamagedLayout);
        return 0;
    }
    std::string keptRemark, keptCover;
    if (!remark && !ReadRemark(keptRemark)) return 0;
    if (!cover && !ReadCover(keptCover)) {
        SetError(kErrWriteFailed);
        return 0;
    }
    const std::string_view newRemark = remark ? *remark : std::string_view(keptRemark);
    const std::string& newCover = cover ? *cover : keptCover;
    IndexHeader h = header_;
    h.remarkLength = static_cast<uint32_t>(newRemark.size());
    h.coverOffset = h.remarkOffset + h.remarkLength;
    h.coverSize = static_cast<uint32_t>(newCover.size());
    if (uint64_t{h.remarkOffset} + newRemark.size() + newCover.size() > UINT32_MAX) {
        SetError(kErrWriteFailed);
        return 0;
    }

    // The whole new file beside the old one: records as they are, the new header,
    // remark and cover. The old file stays whole until the rename.
    SaveTarget target;
    int resolveErr = 0;
    if (!ResolveSaveTarget(path_, target, resolveErr)) {
        SetError(kErrWriteFailed);
        return 0;
    }
    RemoveStaleTemps(FolderOf(target.path));
    std::string tmp;
    int out = CreateUniqueTemp(target, tmp);
    if (out < 0) {
        SetError(kErrWriteFailed);
        return 0;
    }
    bool ok = true;
    std::string chunk;
    for (uint64_t at = kFirstEntryOffset; ok && at < h.remarkOffset;) {
        chunk.resize(static_cast<size_t>(std::min<uint64_t>(kCopyChunk, h.remarkOffset - at)));
        if (at == kFirstEntryOffset) {
            unsigned char head[kMagicSize + kHeaderSize];
            std::memcpy(head, kIndexMagic, kMagicSize);
            EncodeHeader(h, head + kMagicSize);
            ok = WriteAppend(out, head, sizeof(head));
        }
        ok = ok && ReadFully(fd_, chunk.data(), chunk.size(), at) &&
             WriteAppend(out, chunk.data(), chunk.size());
        at += chunk.size();
    }
    if (ok && h.remarkOffset <= kFirstEntryOffset) {
        // No records: the header alone comes before the remark.
        unsigned char head[kMagicSize + kHeaderSize];
        std::memcpy(head, kIndexMagic, kMagicSize);
        EncodeHeader(h, head + kMagicSize);
        ok = WriteAppend(out, head, sizeof(head));
    }
    ok = ok && WriteAppend(out, newRemark.data(), newRemark.size()) &&
         WriteAppend(out, newCover.data(), newCover.size()) && SyncFile(out);
    ok = (::close(out) == 0) && ok;
    if (!ok || !RenameOver(tmp, target.path, true)) {
        ::unlink(tmp.c_str());
        SetError(kErrWriteFailed);
        return 0;
    }
    if (!ReopenAt(path_)) {
        // The new file is in place; this reader only cannot follow it.
        header_ = h;
    }
    return 1;
}

bool CIndexReader::VariablePartConsistent() {
    // The remark and the cover are rewritten in place at the header's offsets, so a
    // damaged header would lead the writes over the magic, the header or the
    // records. Only the layout the writers make is accepted: records, then the
    // remark, then the cover up to the end of the file.
    fileSize_ = FdSize(fd_);
    InvalidateCache();
    const uint64_t remarkAt = header_.remarkOffset;
    const uint64_t coverAt = header_.coverOffset;
    if (remarkAt < kFirstEntryOffset || remarkAt + header_.remarkLength != coverAt ||
        coverAt + header_.coverSize != fileSize_)
        return false;
    // Every record reachable from the top level must end at or before the remark.
    // Links only lead forward, but several may lead to one record: the walk is
    // bounded by what the file can hold, and running past that is damage too.
    uint64_t budget = MaxEntryCount();
    std::vector<IndexEntry> stack(1);
    if (!ReadFirstEntry(nullptr, stack.back())) return true;
    while (!stack.empty()) {
        if (budget-- == 0) return false;
        IndexEntry e = stack.back();
        stack.pop_back();
        // The name's length byte, not strlen: a name may hold a NUL.
        const uint64_t at = static_cast<uint64_t>(e.recordOffset);
        const unsigned char* nameLength = Peek(at + kEntryFixedSize, 1);
        if (!nameLength || at + kRecordFixedSize + *nameLength > remarkAt) return false;
        IndexEntry next;
        if (ReadNextEntry(e, next)) stack.push_back(next);
        if (e.IsDirectory() && ReadFirstEntry(&e, next)) stack.push_back(next);
    }
    return true;
}

int CIndexReader::WriteRemark(std::string_view text) {
    if (!open_) {
        SetError(kErrNotOpen);
        return 0;
    }
    if (mode_ == OpenMode::ReadShareAll) {
        SetError(openElsewhere_ ? kErrOpenElsewhere : kErrWriteFailed);
        return 0;
    }
    return RewriteVariablePart(&text, nullptr);
}

int CIndexReader::ReplaceCover(const std::string& picturePath) {
    if (!open_) {
        SetError(kErrNotOpen);
        return 0;
    }
    std::unique_ptr<IPicture> pic = PictureDecoder().Decode(picturePath);
    if (!pic) {
        SetError(kErrBadPicture);
        return 0;
    }
    if (mode_ == OpenMode::ReadShareAll) {
        SetError(openElsewhere_ ? kErrOpenElsewhere : kErrWriteFailed);
        return 0;
    }
    std::string data;
    if (!ReadWholeFile(picturePath, data)) {
        SetError(kErrWriteFailed);
        return 0;
    }
    if (!RewriteVariablePart(nullptr, &data)) return 0;
    LoadCover();
    picture_ = std::move(pic);
    return 1;
}

const std::string* CIndexReader::FindAnnotation(int32_t id) const {
    for (const Annotation& a : annotations_)
        if (a.id == id) return &a.text;
    return nullptr;
}

void CIndexReader::SetAnnotation(int32_t id, std::string_view text) {
    auto it = std::find_if(annotations_.begin(), annotations_.end(),
                           [id](const Annotation& a) { return a.id == id; });
    if (it != annotations_.end()) {
        if (!text.empty())
            it->text.assign(text);
        else
            annotations_.erase(it);
    } else {
        annotations_.push_back({id, std::string(text)});
    }
    if (std::find(changedIds_.begin(), changedIds_.end(), id) == changedIds_.end())
        changedIds_.push_back(id);
    annotationsChanged_ = true;
}

void CIndexReader::StopSearch() {
    if (searchControl_ && searchControl_->running.load()) searchControl_->abort.store(1);
}

bool CIndexReader::IsSearching() const {
    return searchControl_ && searchControl_->running.load() != 0;
}

bool CIndexReader::SearchAborted() const {
    return searchControl_ && searchControl_->abort.load() != 0;
}

void CIndexReader::ClearSearchAbort() {
    if (searchControl_) searchControl_->abort.store(0);
}

}  // namespace orb
