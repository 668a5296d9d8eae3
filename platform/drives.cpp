// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/drives.h"

#include <sys/stat.h>

#include <charconv>
#include <sstream>

#include "platform/files.h"
#include "platform/text.h"

namespace orb {

std::string NormalizeDriveRoot(const std::string& root) {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    if (r.empty() || r.back() != '/') r += '/';
    return r;
}

std::vector<VirtualDrive> CVirtualDriveTable::Parse(const std::string& text, int* badLines) {
    std::vector<VirtualDrive> out;
    int bad = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::vector<std::string> fields;
        size_t start = 0;
        while (true) {
            size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        VirtualDrive d;
        d.folder = fields[0];
        if (d.folder.empty()) {
            ++bad;
            continue;
        }
        if (fields.size() == 1) {
            d.empty = true;
        } else if (fields.size() == 3) {
            d.label = fields[1];
            const std::string& cap = fields[2];
            auto res = std::from_chars(cap.data(), cap.data() + cap.size(), d.capacity);
            if (res.ec != std::errc() || res.ptr != cap.data() + cap.size()) {
                ++bad;
                continue;
            }
        } else {
            ++bad;
            continue;
        }
        out.push_back(std::move(d));
    }
    if (badLines) *badLines = bad;
    return out;
}

std::string CVirtualDriveTable::Format(const std::vector<VirtualDrive>& drives) {
    std::string s;
    for (const VirtualDrive& d : drives) {
        s += d.folder;
        if (!d.empty) s += "\t" + d.label + "\t" + std::to_string(d.capacity);
        s += "\n";
    }
    return s;
}

DiskGeometry CVirtualDriveTable::GeometryFor(uint64_t capacity) {
    DiskGeometry g;
    g.sectorsPerCluster = 1;
    g.bytesPerSector = (capacity % 2048 == 0) ? 2048 : 1;
    g.totalClusters = capacity / g.bytesPerSector;
    g.freeClusters = 0;
    return g;
}

CVirtualDriveSystem::CVirtualDriveSystem(std::vector<VirtualDrive> drives,
                                         std::shared_ptr<IDriveSystem> inner)
    : drives_(std::move(drives)), inner_(std::move(inner)) {}

void CVirtualDriveSystem::SetDrives(std::vector<VirtualDrive> drives) {
    std::lock_guard<std::mutex> lock(mutex_);
    drives_ = std::move(drives);
}

std::vector<VirtualDrive> CVirtualDriveSystem::Drives() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return drives_;
}

void CVirtualDriveSystem::FollowTableFile(std::string path) {
    {
        std::lock_guard<std::mutex> lock(refreshMutex_);
        tablePath_ = std::move(path);
        haveFile_ = false;
    }
    SetDrives({});
    Refresh();
}

void CVirtualDriveSystem::Refresh() {
    std::lock_guard<std::mutex> lock(refreshMutex_);
    if (tablePath_.empty()) return;
    struct stat st {};
    if (::stat(tablePath_.c_str(), &st) != 0) {
        if (haveFile_) SetDrives({});
        haveFile_ = false;
        return;
    }
    const int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (haveFile_ && mtime == mtimeNs_ && uint64_t(st.st_size) == size_ && st.st_ino == inode_)
        return;
    std::string text;
    if (!ReadWholeFile(tablePath_, text, 1 << 20)) return;
    haveFile_ = true;
    mtimeNs_ = mtime;
    size_ = uint64_t(st.st_size);
    inode_ = st.st_ino;
    SetDrives(CVirtualDriveTable::Parse(text));
}

bool CVirtualDriveSystem::Find(const std::string& root, VirtualDrive& out) {
    Refresh();
    std::string want = NormalizeDriveRoot(root);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VirtualDrive& d : drives_) {
        if (NormalizeDriveRoot(d.folder) == want) {
            out = d;
            return true;
        }
    }
    return false;
}

std::vector<DriveInfo> CVirtualDriveSystem::ListCdDrives() {
    Refresh();
    std::vector<DriveInfo> out;
    if (inner_) out = inner_->ListCdDrives();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VirtualDrive& d : drives_) {
        DriveInfo info;
        info.root = NormalizeDriveRoot(d.folder);
        info.isVirtual = true;
        out.push_back(info);
    }
    return out;
}

DriveType CVirtualDriveSystem::GetDriveType(const std::string& root) {
    VirtualDrive d;
    if (Find(root, d)) return DRIVE_CDROM;
    return inner_ ? inner_->GetDriveType(root) : DRIVE_NO_ROOT_DIR;
}

bool CVirtualDriveSystem::GetDiskFreeSpace(const std::string& root, DiskGeometry& out) {
    VirtualDrive d;
    if (Find(root, d)) {
        if (d.empty) return false;
        out = CVirtualDriveTable::GeometryFor(d.capacity);
        return true;
    }
    return inner_ ? inner_->GetDiskFreeSpace(root, out) : false;
}

bool CVirtualDriveSystem::GetVolumeLabel(const std::string& root, std::string& storedLabel) {
    VirtualDrive d;
    if (Find(root, d)) {
        if (d.empty) return false;
        storedLabel = HostToStored(d.label);
        return true;
    }
    return inner_ ? inner_->GetVolumeLabel(root, storedLabel) : false;
}

bool CVirtualDriveSystem::Eject(const std::string& root) {
    Refresh();
    std::string want = NormalizeDriveRoot(root);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (VirtualDrive& d : drives_) {
            if (NormalizeDriveRoot(d.folder) == want) {
                d.empty = true;
                return true;
            }
        }
    }
    return inner_ ? inner_->Eject(root) : false;
}

bool CVirtualDriveSystem::CloseTray(const std::string& root) {
    VirtualDrive d;
    if (Find(root, d)) return true;
    return inner_ ? inner_->CloseTray(root) : false;
}

namespace {
std::mutex g_drivesMutex;
std::shared_ptr<IDriveSystem> g_drives;
}  // namespace

std::shared_ptr<IDriveSystem> Drives() {
    std::lock_guard<std::mutex> lock(g_drivesMutex);
    if (!g_drives) g_drives = CreateHostDriveSystem();
    return g_drives;
}

void SetDriveSystem(std::shared_ptr<IDriveSystem> system) {
    std::lock_guard<std::mutex> lock(g_drivesMutex);
    g_drives = std::move(system);
}

}  // namespace orb
