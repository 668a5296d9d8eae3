// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/iso_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <cstring>
#include <unordered_map>
#include <vector>

#include "image/disc_image.h"
#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {

// libarchive pulls through these; small reads keep the bytes read near what the
// directories take, since file data is skipped by seeking.
constexpr size_t kReadChunk = 16 * 1024;

struct Input {
    CImageFile* image;
    uint64_t pos = 0;
    std::vector<unsigned char> buf = std::vector<unsigned char>(kReadChunk);
};

la_ssize_t ReadCb(struct archive*, void* data, const void** out) {
    auto* in = static_cast<Input*>(data);
    const size_t n = in->image->ReadAt(in->pos, in->buf.data(), in->buf.size());
    in->pos += n;
    *out = in->buf.data();
    return static_cast<la_ssize_t>(n);
}

la_int64_t SkipCb(struct archive*, void* data, la_int64_t request) {
    auto* in = static_cast<Input*>(data);
    const uint64_t size = in->image->LogicalSize();
    const uint64_t room = in->pos < size ? size - in->pos : 0;
    const uint64_t step = static_cast<uint64_t>(request) < room ? request : room;
    in->pos += step;
    return static_cast<la_int64_t>(step);
}

la_int64_t SeekCb(struct archive*, void* data, la_int64_t offset, int whence) {
    auto* in = static_cast<Input*>(data);
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(in->pos)
                                        : static_cast<int64_t>(in->image->LogicalSize());
    const int64_t to = base + offset;
    if (to < 0) return ARCHIVE_FATAL;
    in->pos = static_cast<uint64_t>(to);
    return to;
}

// Joliet names come out of libarchive in the thread's locale: a UTF-8 locale on
// this thread alone makes them UTF-8 whatever the program's locale is.
class CUtf8ThreadLocale {
public:
    CUtf8ThreadLocale() {
        loc_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (loc_) old_ = uselocale(loc_);
    }
    ~CUtf8ThreadLocale() {
        if (loc_) {
            uselocale(old_);
            freelocale(loc_);
        }
    }
    CUtf8ThreadLocale(const CUtf8ThreadLocale&) = delete;
    CUtf8ThreadLocale& operator=(const CUtf8ThreadLocale&) = delete;

private:
    locale_t loc_ = static_cast<locale_t>(0);
    locale_t old_ = static_cast<locale_t>(0);
};

class CArchive {
public:
    CArchive(CImageFile& image, const VolumeInfo& info) : input_{&image} {
        a_ = archive_read_new();
        archive_read_support_format_iso9660(a_);
        archive_read_set_read_callback(a_, ReadCb);
        archive_read_set_skip_callback(a_, SkipCb);
        archive_read_set_seek_callback(a_, SeekCb);
        archive_read_set_callback_data(a_, &input_);
        opened_ = archive_read_open1(a_) == ARCHIVE_OK;
        (void)info;
    }
    ~CArchive() { archive_read_free(a_); }
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;
    bool Opened() const { return opened_; }
    struct archive* Get() {
        return a_;
    }
    std::string Error() {
        const char* e = archive_error_string(a_);
        return e ? e : "未知错误";
    }

private:
    CUtf8ThreadLocale locale_;
    Input input_;
    struct archive* a_ = nullptr;
    bool opened_ = false;
};

uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// libarchive takes Rock Ridge names when the primary root's first record starts
// the system use area with SUSP "SP"; the root of that tree tells which names a
// listing gets.
IsoNames DetectNames(CImageFile& image, const VolumeInfo& info) {
    unsigned char pvd[kImageSectorSize];
    for (uint64_t n = 16; n < 16 + 64; ++n) {
        if (!image.ReadFullyAt(n * kImageSectorSize, pvd, sizeof pvd)) break;
        if (pvd[0] == 255 || !IsVolumeDescriptorId(pvd)) break;
        if (pvd[0] != 1 || std::memcmp(pvd + 1, "CD001", 5) != 0) continue;
        const unsigned char* root = pvd + 156;
        unsigned char rec[256];
        if (image.ReadFullyAt(static_cast<uint64_t>(Le32(root + 2)) * kImageSectorSize, rec,
                              sizeof rec)) {
            const size_t len = rec[0], nameLen = rec[32];
            const size_t su = 33 + nameLen + ((nameLen & 1) ? 0 : 1);
            if (len >= su + 7 && std::memcmp(rec + su, "SP\x07\x01\xbe\xef", 6) == 0)
                return IsoNames::RockRidge;
        }
        break;
    }
    return info.joliet ? IsoNames::Joliet : IsoNames::Plain;
}

std::string StoredPathOf(struct archive_entry* e, IsoNames names) {
    const char* p = archive_entry_pathname(e);
    std::string path = p ? p : "";
    while (!path.empty() && path.back() == '/') path.pop_back();
    while (path.size() >= 2 && path.compare(0, 2, "./") == 0) path.erase(0, 2);
    // Plain identifiers are the disc's own bytes (often GBK): kept exactly.
    return names == IsoNames::Plain ? path : HostToStored(path);
}

// True when the entry's content is the boot catalogue sector itself.
bool IsBootCatalog(struct archive* a, struct archive_entry* e, CImageFile& image,
                   const VolumeInfo& info) {
    if (info.bootCatalogSector < 0 || archive_entry_filetype(e) != AE_IFREG) return false;
    const la_int64_t size = archive_entry_size(e);
    if (size <= 0 || size > static_cast<la_int64_t>(kImageSectorSize)) return false;
    unsigned char catalog[kImageSectorSize];
    if (!image.ReadFullyAt(static_cast<uint64_t>(info.bootCatalogSector) * kImageSectorSize,
                           catalog, sizeof catalog))
        return false;
    unsigned char data[kImageSectorSize];
    const la_ssize_t got = archive_read_data(a, data, static_cast<size_t>(size));
    return got == size && std::memcmp(data, catalog, static_cast<size_t>(size)) == 0;
}

}  // namespace

bool ReadmeCapture::Matches(std::string_view storedName) {
    return LowerAZCopy(storedName) == "readme.txt";
}

void ReadmeCapture::Take(const std::function<long(char*, size_t)>& read) {
    found = true;
    char buf[16 * 1024];
    // One byte more than kept tells a longer file.
    while (bytes.size() < maxBytes + 1) {
        const long n = read(buf, std::min(sizeof buf, maxBytes + 1 - bytes.size()));
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    truncated = bytes.size() > maxBytes;
    if (truncated) bytes.resize(maxBytes);
}

bool ReadIsoTree(CImageFile& image, const VolumeInfo& info, CScanTree& tree,
                 const DiscListObserver& observer, std::string& error, ReadmeCapture* readme,
                 IsoNames* namesOut) {
    const IsoNames names = DetectNames(image, info);
    if (namesOut) *namesOut = names;
    CArchive ar(image, info);
    if (!ar.Opened()) {
        error = "映象文件已损坏: " + ar.Error();
        return false;
    }
    // Directories by stored path; files too, so a hard link finds its target's size.
    std::unordered_map<std::string, ScanNodeId> nodes;
    std::vector<char> placeholder;  // directories made for a child seen before them
    // Finds or makes the directory node of a stored path ("" is the root).
    auto dirNode = [&](const std::string& path, auto& self) -> ScanNodeId {
        if (path.empty()) return kNoNode;
        auto it = nodes.find(path);
        if (it != nodes.end()) return it->second;
        const size_t slash = path.rfind('/');
        const ScanNodeId parent =
            slash == std::string::npos ? kNoNode : self(path.substr(0, slash), self);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const ScanNodeId id = tree.Append(parent, kEntryDirectory, 0, FILETIME{}, name);
        nodes.emplace(path, id);
        placeholder.resize(id + 1, 0);
        placeholder[id] = 1;
        return id;
    };

    struct archive_entry* e = nullptr;
    for (;;) {
        const int r = archive_read_next_header(ar.Get(), &e);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) {
            error = "映象文件已损坏: " + ar.Error();
            return false;
        }
        if (tree.Size() >= kMaxImageEntries) {
            error = "映象文件中的条目太多";
            return false;
        }
        const std::string path = StoredPathOf(e, names);
        if (path.empty() || path == "." || path == "..") continue;
        const bool isDir = archive_entry_filetype(e) == AE_IFDIR;
        if (!isDir && IsBootCatalog(ar.Get(), e, image, info)) continue;
        if (!isDir && readme && readme->maxBytes && !readme->found &&
            path.find('/') == std::string::npos && ReadmeCapture::Matches(path)) {
            struct archive* a = ar.Get();
            readme->Take([a](char* buf, size_t n) {
                return static_cast<long>(archive_read_data(a, buf, n));
            });
        }
        uint64_t size = archive_entry_size_is_set(e) && archive_entry_size(e) > 0
                            ? static_cast<uint64_t>(archive_entry_size(e))
                            : 0;
        if (const char* link = archive_entry_hardlink(e); link && !isDir && size == 0) {
            std::string target = link;
            if (names != IsoNames::Plain) target = HostToStored(target);
            auto t = nodes.find(target);
            if (t != nodes.end()) size = tree.Node(t->second).item.Size();
        }
        const FILETIME time = UnixToFileTime(archive_entry_mtime(e), archive_entry_mtime_nsec(e));
        const size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        auto existing = nodes.find(path);
        if (isDir && existing != nodes.end() && existing->second < placeholder.size() &&
            placeholder[existing->second]) {
            // The directory's own record arrives after a child: fill in its fields.
            ScanItem& it = tree.Node(existing->second).item;
            it.sizeHigh = static_cast<uint32_t>(size >> 32);
            it.sizeLow = static_cast<uint32_t>(size);
            it.writeTime = time;
            placeholder[existing->second] = 0;
        } else {
            const ScanNodeId parent =
                slash == std::string::npos ? kNoNode : dirNode(path.substr(0, slash), dirNode);
            const ScanNodeId id =
                tree.Append(parent, isDir ? kEntryDirectory : 0, size, time, name);
            nodes.emplace(path, id);
        }
        if (observer && !observer(isDir, size)) {
            error = "任务己被用户中止";
            return false;
        }
    }
    return true;
}

struct CIsoFiles::Impl {
    Impl(CImageFile& img, const VolumeInfo& vi) : image(img), info(vi) {
        names = DetectNames(image, info);
    }
    CImageFile& image;
    VolumeInfo info;
    IsoNames names = IsoNames::Plain;
    std::unique_ptr<CArchive> ar;
    std::string current;  // the file whose data the archive stands in ("" none)
    uint64_t pos = 0;     // bytes of it read so far

    // Moves to a regular file: forward from where the archive stands, then once
    // from the start. A hard link without data of its own leads to its target;
    // where names the file whose data was found.
    bool Seek(const std::string& path, std::string& where, std::string& error, int depth = 0) {
        for (int round = 0; round < 2; ++round) {
            if (round == 1 || !ar) {
                ar = std::make_unique<CArchive>(image, info);
                current.clear();
                if (!ar->Opened()) {
                    error = "映象文件已损坏: " + ar->Error();
                    ar.reset();
                    return false;
                }
            }
            current.clear();
            struct archive_entry* e = nullptr;
            for (uint64_t seen = 0;; ++seen) {
                const int r = archive_read_next_header(ar->Get(), &e);
                if (r == ARCHIVE_EOF) break;
                if (r < ARCHIVE_WARN || seen > kMaxImageEntries) {
                    error = "映象文件已损坏: " + ar->Error();
                    ar.reset();
                    return false;
                }
                if (StoredPathOf(e, names) != path) continue;
                if (archive_entry_filetype(e) != AE_IFREG) {
                    error = "映象文件中的这个条目不是文件";
                    return false;
                }
                const char* link = archive_entry_hardlink(e);
                if (link && (!archive_entry_size_is_set(e) || archive_entry_size(e) == 0) &&
                    depth == 0) {
                    std::string target = link;
                    while (target.size() >= 2 && target.compare(0, 2, "./") == 0)
                        target.erase(0, 2);
                    if (names != IsoNames::Plain) target = HostToStored(target);
                    return Seek(target, where, error, depth + 1);
                }
                current = path;
                where = path;
                pos = 0;
                return true;
            }
        }
        error = "映象文件中没有这个文件";
        return false;
    }
};

namespace {

class CIsoFileData : public IImageFileData {
public:
    CIsoFileData(std::shared_ptr<CIsoFiles::Impl> files, std::string path)
        : files_(std::move(files)), path_(std::move(path)) {}
    int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) override {
        CIsoFiles::Impl& f = *files_;
        std::string where;
        // Another file was read meanwhile, or a retry goes back: find this one again.
        if ((f.current != path_ || f.pos > offset) && !f.Seek(path_, where, error)) return -1;
        char skip[64 * 1024];
        while (f.pos < offset) {
            const la_ssize_t got = archive_read_data(
                f.ar->Get(), skip,
                static_cast<size_t>(std::min<uint64_t>(sizeof skip, offset - f.pos)));
            if (got <= 0) return Failed(got, error);
            f.pos += static_cast<uint64_t>(got);
        }
        const la_ssize_t got = archive_read_data(f.ar->Get(), buf, n);
        if (got < 0) return Failed(got, error);
        f.pos += static_cast<uint64_t>(got);
        return got;
    }

private:
    int64_t Failed(la_ssize_t got, std::string& error) {
        if (got == 0) return 0;
        error = "映象文件已损坏: " + files_->ar->Error();
        files_->current.clear();  // the archive's state is unknown now
        return -1;
    }
    std::shared_ptr<CIsoFiles::Impl> files_;
    std::string path_;
};

}  // namespace

CIsoFiles::CIsoFiles(CImageFile& image, const VolumeInfo& info)
    : impl_(std::make_unique<Impl>(image, info)) {}

CIsoFiles::~CIsoFiles() = default;

std::unique_ptr<IImageFileData> CIsoFiles::Open(const std::shared_ptr<CIsoFiles>& files,
                                                const std::string& storedPath, std::string& error) {
    std::string where;
    if (!files->impl_->Seek(storedPath, where, error)) return nullptr;
    // The file object shares the reader state, which the image outlives.
    std::shared_ptr<Impl> impl(files, files->impl_.get());
    return std::make_unique<CIsoFileData>(std::move(impl), where);
}

}  // namespace orb
