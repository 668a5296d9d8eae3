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
constexpr size_t kCacheBlock = 256 * 1024;
constexpr size_t kCacheAlign = 4096;
constexpr size_t kCopyChunk = 4096;

uint64_t FdSize(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}
}  // namespace

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

    int fd = OpenShared(path, mode);
    if (fd < 0) {
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

    coverTemp_.clear();
    picture_.reset();
    coverLoaded_ = false;
    LoadAnnotations();
    annotationsChanged_ = false;
    open_ = true;
    return 1;
}

void CIndexReader::LoadCover() const {
    if (!open_ || coverLoaded_) return;
    coverLoaded_ = true;
    coverTemp_ = MakeTempFile("orb");
    if (header_.coverSize == 0 || coverTemp_.empty()) return;
    // A cover that lies past the end of a damaged file is not read: the index
    // has no picture.
    uint64_t end = static_cast<uint64_t>(header_.coverOffset) + header_.coverSize;
    if (end > fileSize_) return;
    std::string cover(header_.coverSize, '\0');
    if (ReadFully(fd_, cover.data(), cover.size(), header_.coverOffset) &&
        WriteWholeFile(coverTemp_, cover))
        picture_ = PictureDecoder().Decode(coverTemp_);
}

const IPicture* CIndexReader::Picture() const {
    LoadCover();
    return picture_.get();
}

std::string CIndexReader::CoverTempPath() const {
    LoadCover();
    return coverTemp_;
}

void CIndexReader::LoadAnnotations() {
    annotations_.clear();
    std::string data;
    if (!ReadWholeFile(CompanionPath(path_), data)) return;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t size = data.size();
    if (size < 4) return;
    int32_t count = static_cast<int32_t>(GetLE32(p));
    if (count <= 0) return;
    // Each record needs at least 8 bytes, so the file's size bounds the count.
    size_t fits = (size - 4) / 8;
    size_t want = std::min<size_t>(static_cast<size_t>(count), fits);
    annotations_.reserve(want);
    size_t pos = 4;
    for (size_t i = 0; i < want; ++i) {
        if (size - pos < 8) break;
        int32_t id = static_cast<int32_t>(GetLE32(p + pos));
        int32_t len = static_cast<int32_t>(GetLE32(p + pos + 4));
        pos += 8;
        if (len < 0 || static_cast<size_t>(len) > size - pos) break;  // damaged: keep what was read
        annotations_.push_back({id, std::string(data.data() + pos, static_cast<size_t>(len))});
        pos += static_cast<size_t>(len);
    }
}

bool CIndexReader::SaveAnnotations() {
    std::string data;
    unsigned char num[4];
    PutLE32(num, static_cast<uint32_t>(annotations_.size()));
    data.append(reinterpret_cast<char*>(num), 4);
    for (const Annotation& a : annotations_) {
        PutLE32(num, static_cast<uint32_t>(a.id));
        data.append(reinterpret_cast<char*>(num), 4);
        PutLE32(num, static_cast<uint32_t>(a.text.size()));
        data.append(reinterpret_cast<char*>(num), 4);
        data.append(a.text);
    }
    return ReplaceFileAtomically(CompanionPath(path_), data, true);
}

bool CIndexReader::SaveAnnotationsNow() {
    if (!open_) {
        SetError(kErrNotOpen);
        return false;
    }
    if (!annotationsChanged_) return true;
    if (!SaveAnnotations()) {
        const int err = errno;
        SetError(kErrCompanionFailed);
        errno = err;
        return false;
    }
    annotationsChanged_ = false;
    return true;
}

bool CIndexReader::Close() {
    if (!open_) return true;
    // A running search is stopped and detached, as Open and destruction do: it
    // sends nothing more once the index is closed.
    EndSearchForClose();
    open_ = false;
    picture_.reset();
    if (!coverTemp_.empty()) ::unlink(coverTemp_.c_str());
    coverTemp_.clear();
    coverLoaded_ = false;
    ::close(fd_);
    fd_ = -1;
    InvalidateCache();
    bool ok = true;
    if (annotationsChanged_) {
        ok = SaveAnnotations();
        if (!ok) SetError(kErrCompanionFailed);
    }
    annotations_.clear();
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

bool CIndexReader::WriteHeader() {
    unsigned char buf[kHeaderSize];
    EncodeHeader(header_, buf);
    return WriteFully(fd_, buf, kHeaderSize, kMagicSize);
}

bool CIndexReader::WriteCover(uint64_t at) {
    int tfd = ::open(coverTemp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (tfd < 0) return false;
    char chunk[kCopyChunk];
    uint64_t pos = at;
    bool ok = true;
    while (true) {
        ssize_t r = ::read(tfd, chunk, sizeof(chunk));
        if (r < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (r == 0) break;
        if (!WriteFully(fd_, chunk, static_cast<size_t>(r), pos)) {
            ok = false;
            break;
        }
        pos += static_cast<uint64_t>(r);
    }
    ::close(tfd);
    if (ok && ftruncate(fd_, static_cast<off_t>(pos)) != 0) ok = false;
    return ok;
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
    LoadCover();  // the cover is rewritten from its copy after the remark
    if (mode_ == OpenMode::ReadShareAll) {
        SetError(kErrWriteFailed);
        return 0;
    }
    if (!VariablePartConsistent()) {
        SetError(kErrDamagedLayout);
        return 0;
    }
    if (header_.remarkOffset + uint64_t{text.size()} + header_.coverSize > UINT32_MAX) {
        SetError(kErrWriteFailed);
        return 0;
    }
    IndexHeader before = header_;
    header_.remarkLength = static_cast<uint32_t>(text.size());
    header_.coverOffset = header_.remarkOffset + header_.remarkLength;
    bool ok = WriteFully(fd_, text.data(), text.size(), header_.remarkOffset) &&
              WriteCover(header_.coverOffset) && WriteHeader();
    InvalidateCache();
    fileSize_ = FdSize(fd_);
    if (!ok) {
        header_ = before;
        SetError(kErrWriteFailed);
        return 0;
    }
    return 1;
}

int CIndexReader::ReplaceCover(const std::string& picturePath) {
    if (!open_) {
        SetError(kErrNotOpen);
        return 0;
    }
    LoadCover();  // the new picture goes into the copy
    picture_.reset();
    std::unique_ptr<IPicture> pic = PictureDecoder().Decode(picturePath);
    if (!pic) {
        SetError(kErrBadPicture);
        return 0;
    }
    if (mode_ == OpenMode::ReadShareAll) {
        SetError(kErrWriteFailed);
        return 0;
    }
    if (!VariablePartConsistent()) {
        SetError(kErrDamagedLayout);
        return 0;
    }
    std::string data;
    if (!ReadWholeFile(picturePath, data) ||
        header_.coverOffset + uint64_t{data.size()} > UINT32_MAX ||
        !WriteWholeFile(coverTemp_, data)) {
        SetError(kErrWriteFailed);
        return 0;
    }
    picture_ = std::move(pic);
    IndexHeader before = header_;
    header_.coverSize = static_cast<uint32_t>(data.size());
    bool ok = WriteHeader() && WriteCover(header_.coverOffset);
    InvalidateCache();
    fileSize_ = FdSize(fd_);
    if (!ok) {
        header_ = before;
        WriteHeader();
        SetError(kErrWriteFailed);
        return 0;
    }
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
