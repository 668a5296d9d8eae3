// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/udf_reader.h"

#include <udfread/blockinput.h>
#include <udfread/udfread.h>

#include <cstring>
#include <vector>

#include "image/disc_image.h"
#include "image/iso_reader.h"
#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {

constexpr int kMaxDepth = 255;
constexpr uint16_t kTagFileEntry = 261;
constexpr uint16_t kTagExtendedFileEntry = 266;

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

FILETIME UdfTimestampToFileTime(const unsigned char* p) {
    const uint16_t typeTz = Le16(p);
    int tz = typeTz & 0x0FFF;
    if (tz & 0x0800) tz -= 0x1000;                   // signed 12 bits, minutes east of UTC
    if (tz == -2047 || (typeTz >> 12) != 1) tz = 0;  // not local time: taken as UTC
    const int year = static_cast<int16_t>(Le16(p + 2));
    const unsigned month = p[4], day = p[5], hour = p[6], minute = p[7], second = p[8];
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        year < 1601)
        return FILETIME{};
    const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                            second - static_cast<int64_t>(tz) * 60;
    const int64_t nanos = (p[9] * 10000 + p[10] * 100 + p[11]) * 1000LL;
    return UnixToFileTime(seconds, nanos < 1000000000 ? nanos : 0);
}

// The block input libudfread reads through: it counts the bytes read and keeps
// the last file entry it saw, whose time and place the walk takes.
struct CUdfVolume::Impl {
    struct Input {
        udfread_block_input base;  // first: libudfread hands this pointer back
        Impl* owner;
    } input{};
    CImageFile* image = nullptr;
    udfread* udf = nullptr;
    bool sawEntry = false;
    uint32_t entryLba = 0;
    FILETIME entryTime;
    uint64_t entryLength = 0;
    size_t entries = 0;
    ReadmeCapture* readme = nullptr;

    static int Read(udfread_block_input* in, uint32_t lba, void* buf, uint32_t nblocks, int) {
        Impl* self = reinterpret_cast<Input*>(in)->owner;
        const uint64_t offset = static_cast<uint64_t>(lba) * kImageSectorSize;
        const size_t want = static_cast<size_t>(nblocks) * kImageSectorSize;
        const size_t got = self->image->ReadAt(offset, buf, want);
        const uint32_t blocks = static_cast<uint32_t>(got / kImageSectorSize);
        for (uint32_t i = 0; i < blocks; ++i) {
            const auto* b = static_cast<const unsigned char*>(buf) + i * kImageSectorSize;
            const uint16_t tag = Le16(b);
            if (tag == kTagFileEntry || tag == kTagExtendedFileEntry) {
                self->sawEntry = true;
                self->entryLba = lba + i;
                self->entryTime = UdfTimestampToFileTime(b + (tag == kTagFileEntry ? 84 : 92));
                self->entryLength = Le32(b + 56) | (static_cast<uint64_t>(Le32(b + 60)) << 32);
            }
        }
        return static_cast<int>(blocks);
    }
    static uint32_t Size(udfread_block_input* in) {
        Impl* self = reinterpret_cast<Input*>(in)->owner;
        return static_cast<uint32_t>(self->image->LogicalSize() / kImageSectorSize);
    }

    void ResetEntry() { sawEntry = false; }

    bool Walk(UDFDIR* dir, ScanNodeId parent, CScanTree& tree, const DiscListObserver& observer,
              std::vector<uint32_t>& path, std::string& error) {
        if (path.size() > static_cast<size_t>(kMaxDepth)) {
            error = "映象文件已损坏: 目录层次太深";
            return false;
        }
        // The names first: opening an entry may move the directory stream.
        std::vector<std::pair<std::string, bool>> list;
        udfread_dirent ent;
        while (udfread_readdir(dir, &ent)) {
            if (!ent.d_name || !std::strcmp(ent.d_name, ".") || !std::strcmp(ent.d_name, ".."))
                continue;
            if (entries + list.size() >= kMaxImageEntries) {
                error = "映象文件中的条目太多";
                return false;
            }
            list.emplace_back(ent.d_name, ent.d_type == UDF_DT_DIR);
        }
        for (const auto& [name, isDir] : list) {
            ++entries;
            const std::string stored = HostToStored(name);
            if (isDir) {
                ResetEntry();
                UDFDIR* sub = udfread_opendir_at(dir, name.c_str());
                if (!sub) {
                    error = "映象文件已损坏: 无法读取目录 " + name;
                    return false;
                }
                const FILETIME time = sawEntry ? entryTime : FILETIME{};
                const uint64_t length = sawEntry ? entryLength : 0;
                const uint32_t lba = entryLba;
                bool loop = false;
                for (uint32_t p : path) loop = loop || (sawEntry && p == lba);
                if (loop) {
                    udfread_closedir(sub);
                    error = "映象文件已损坏: 目录结构中有循环";
                    return false;
                }
                const ScanNodeId node = tree.Append(parent, kEntryDirectory, length, time, stored);
                if (observer && !observer(true, 0)) {
                    udfread_closedir(sub);
                    error = "任务己被用户中止";
                    return false;
                }
                path.push_back(sawEntry ? lba : UINT32_MAX);
                const bool ok = Walk(sub, node, tree, observer, path, error);
                path.pop_back();
                udfread_closedir(sub);
                if (!ok) return false;
            } else {
                ResetEntry();
                UDFFILE* f = udfread_file_openat(dir, name.c_str());
                if (!f) {
                    error = "映象文件已损坏: 无法读取文件 " + name;
                    return false;
                }
                const int64_t size = udfread_file_size(f);
                const FILETIME time = sawEntry ? entryTime : FILETIME{};
                if (readme && readme->maxBytes && !readme->found && parent == kNoNode &&
                    ReadmeCapture::Matches(stored)) {
                    readme->Take([f](char* buf, size_t n) {
                        return static_cast<long>(udfread_file_read(f, buf, n));
                    });
                }
                udfread_file_close(f);
                const uint64_t bytes = size > 0 ? static_cast<uint64_t>(size) : 0;
                tree.Append(parent, 0, bytes, time, stored);
                if (observer && !observer(false, bytes)) {
                    error = "任务己被用户中止";
                    return false;
                }
            }
        }
        return true;
    }
};

CUdfVolume::CUdfVolume() : impl_(std::make_unique<Impl>()) {}

CUdfVolume::~CUdfVolume() {
    if (impl_->udf) udfread_close(impl_->udf);
}

bool CUdfVolume::Open(CImageFile& image, std::string& error) {
    impl_->image = &image;
    impl_->input.base.read = &Impl::Read;
    impl_->input.base.size = &Impl::Size;
    impl_->input.base.close = nullptr;
    impl_->input.owner = impl_.get();
    impl_->udf = udfread_init();
    if (!impl_->udf || udfread_open_input(impl_->udf, &impl_->input.base) < 0) {
        if (impl_->udf) udfread_close(impl_->udf);
        impl_->udf = nullptr;
        error =
            "无法读取映象文件中的UDF文件系统 (不支持的UDF版本或分区类型, "
            "如一次写入光盘的VAT或可重写光盘的sparable分区, 或者映象已损坏)";
        return false;
    }
    return true;
}

std::string CUdfVolume::StoredLabel() const {
    const char* id = impl_->udf ? udfread_get_volume_id(impl_->udf) : nullptr;
    return id ? HostToStored(id) : std::string();
}

bool CUdfVolume::ReadTree(CScanTree& tree, const DiscListObserver& observer, std::string& error,
                          ReadmeCapture* readme) {
    UDFDIR* root = udfread_opendir(impl_->udf, "/");
    if (!root) {
        error = "映象文件已损坏: 无法读取UDF根目录";
        return false;
    }
    impl_->entries = 0;
    std::vector<uint32_t> path;
    if (impl_->sawEntry) path.push_back(impl_->entryLba);
    impl_->readme = readme;
    const bool ok = impl_->Walk(root, kNoNode, tree, observer, path, error);
    impl_->readme = nullptr;
    udfread_closedir(root);
    return ok;
}

namespace {

class CUdfFileData : public IImageFileData {
public:
    explicit CUdfFileData(UDFFILE* f) : f_(f) {}
    ~CUdfFileData() override { udfread_file_close(f_); }
    int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) override {
        if (udfread_file_seek(f_, static_cast<int64_t>(offset), UDF_SEEK_SET) < 0) {
            error = "映象文件已损坏: 无法定位到文件数据";
            return -1;
        }
        const ssize_t got = udfread_file_read(f_, buf, n);
        if (got < 0) error = "映象文件已损坏: 无法读取文件数据";
        return got;
    }

private:
    UDFFILE* f_;
};

}  // namespace

std::unique_ptr<IImageFileData> CUdfVolume::OpenFile(const std::string& utf8Path,
                                                     std::string& error) {
    UDFFILE* f = impl_->udf ? udfread_file_open(impl_->udf, utf8Path.c_str()) : nullptr;
    if (!f) {
        error = "映象文件中没有这个文件";
        return nullptr;
    }
    return std::make_unique<CUdfFileData>(f);
}

}  // namespace orb
