// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux_drives.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {

// Mount table fields escape space, tab, newline and backslash as \ooo.
std::string DecodeOctalEscapes(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// udev's ID_FS_LABEL_ENC escapes unsafe bytes as \xNN.
std::string DecodeHexEscapes(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
            std::isxdigit((unsigned char)s[i + 2]) && std::isxdigit((unsigned char)s[i + 3])) {
            out += static_cast<char>(std::strtoul(s.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string TrimTrailing(std::string s, const char* chars) {
    size_t end = s.find_last_not_of(chars);
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}

bool ParseDevNumbers(const std::string& text, uint32_t& major, uint32_t& minor) {
    char* end = nullptr;
    unsigned long ma = std::strtoul(text.c_str(), &end, 10);
    if (!end || *end != ':') return false;
    const char* m = end + 1;
    unsigned long mi = std::strtoul(m, &end, 10);
    if (end == m) return false;
    major = static_cast<uint32_t>(ma);
    minor = static_cast<uint32_t>(mi);
    return true;
}

std::string WithoutTrailingSlash(const std::string& p) {
    std::string r = p;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    return r;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    std::vector<MountEntry> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string w;
        while (fields >> w) f.push_back(w);
        // id parent major:minor root mountpoint options [optional...] - fstype source super
        auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 7 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3) continue;
        MountEntry e;
        if (!ParseDevNumbers(f[2], e.major, e.minor)) continue;
        e.mountPoint = DecodeOctalEscapes(f[4]);
        e.fsType = *(dash + 1);
        e.source = DecodeOctalEscapes(*(dash + 2));
        out.push_back(std::move(e));
    }
    return out;
}

bool ReadIsoVolumeLabel(const std::string& deviceOrImage, std::string& utf8Label) {
    int fd = ::open(deviceOrImage.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    constexpr size_t kSector = 2048;
    constexpr int kFirst = 16;
    // A descriptor set is short; the bound keeps a hostile image from being read
    // end to end.
    constexpr int kMaxDescriptors = 64;
    unsigned char d[kSector];
    std::string primary, joliet;
    bool sawPrimary = false, sawJoliet = false;
    for (int i = 0; i < kMaxDescriptors; ++i) {
        if (!ReadFully(fd, d, kSector, uint64_t(kFirst + i) * kSector)) break;
        if (std::memcmp(d + 1, "CD001", 5) != 0) break;
        const uint8_t type = d[0];
        if (type == 255) break;
        if (type == 1 && !sawPrimary) {
            sawPrimary = true;
            std::string field(reinterpret_cast<char*>(d + 40), 32);
            primary = TrimTrailing(field.substr(0, field.find('\0')), " ");
        } else if (type == 2 && !sawJoliet) {
            // Joliet is the supplementary descriptor with the UCS-2 escape sequence.
            const unsigned char* esc = d + 88;
            if (esc[0] == '%' && esc[1] == '/' &&
                (esc[2] == '@' || esc[2] == 'C' || esc[2] == 'E')) {
                sawJoliet = true;
                joliet = TrimTrailing(Ucs2BeToUtf8(d + 40, 32), " ");
            }
        }
    }
    ::close(fd);
    if (!sawPrimary && !sawJoliet) return false;
    utf8Label = sawJoliet ? joliet : primary;
    return true;
}

bool ReadUdevLabel(const std::string& udevData, uint32_t major, uint32_t minor,
                   std::string& utf8Label) {
    std::string text;
    const std::string path = udevData + "/b" + std::to_string(major) + ":" + std::to_string(minor);
    if (!ReadWholeFile(path, text, 1 << 20)) return false;
    std::istringstream in(text);
    std::string line, enc, plain;
    bool haveEnc = false, havePlain = false, haveType = false;
    while (std::getline(in, line)) {
        if (line.rfind("E:ID_FS_LABEL_ENC=", 0) == 0) {
            enc = DecodeHexEscapes(line.substr(18));
            haveEnc = true;
        } else if (line.rfind("E:ID_FS_LABEL=", 0) == 0) {
            plain = line.substr(14);
            havePlain = true;
        } else if (line.rfind("E:ID_FS_TYPE=", 0) == 0) {
            haveType = line.size() > 13;
        }
    }
    if (haveEnc) {
        utf8Label = enc;
        return true;
    }
    if (havePlain) {
        utf8Label = plain;
        return true;
    }
    if (haveType) {  // a file system without a label
        utf8Label.clear();
        return true;
    }
    return false;
}

CLinuxDriveSystem::CLinuxDriveSystem(LinuxDrivePaths paths) : paths_(std::move(paths)) {}

std::vector<CLinuxDriveSystem::SrDevice> CLinuxDriveSystem::ListSr() const {
    std::vector<SrDevice> out;
    ListDirectory(paths_.sysBlock, [&](const DirEntry& e) {
        const std::string& n = e.name;
        if (n.size() < 3 || n.compare(0, 2, "sr") != 0 ||
            n.find_first_not_of("0123456789", 2) != std::string::npos)
            return true;
        SrDevice d;
        d.name = n;
        d.node = JoinPath(paths_.devDir, n);
        std::string dev;
        if (ReadWholeFile(JoinPath(JoinPath(paths_.sysBlock, n), "dev"), dev, 64))
            ParseDevNumbers(dev, d.major, d.minor);
        out.push_back(std::move(d));
        return true;
    });
    std::sort(out.begin(), out.end(), [](const SrDevice& a, const SrDevice& b) {
        return std::strtoul(a.name.c_str() + 2, nullptr, 10) <
               std::strtoul(b.name.c_str() + 2, nullptr, 10);
    });
    return out;
}

std::vector<MountEntry> CLinuxDriveSystem::Mounts() const {
    std::string text;
    if (!ReadWholeFile(paths_.mountInfo, text, 16 << 20)) return {};
    return ParseMountInfo(text);
}

const MountEntry* CLinuxDriveSystem::FindMountPoint(const std::vector<MountEntry>& mounts,
                                                    const std::string& root) const {
    const std::string want = WithoutTrailingSlash(root);
    // The last mount on a path is the one that shows.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
        if (it->mountPoint == want) return &*it;
    return nullptr;
}

std::vector<DriveInfo> CLinuxDriveSystem::ListCdDrives() {
    std::vector<DriveInfo> out;
    const std::vector<MountEntry> mounts = Mounts();
    for (const SrDevice& d : ListSr()) {
        DriveInfo info;
        info.device = d.node;
        info.root = d.node;
        // The first mount of the device is the disc's root.
        for (const MountEntry& m : mounts) {
            if ((m.major == d.major && m.minor == d.minor && d.major != 0) || m.source == d.node) {
                info.root = NormalizeDriveRoot(m.mountPoint);
                break;
            }
        }
        out.push_back(std::move(info));
    }
    return out;
}

std::string CLinuxDriveSystem::CdDeviceFor(const std::string& root) {
    const std::string want = WithoutTrailingSlash(root);
    for (const DriveInfo& d : ListCdDrives()) {
        if (want == d.device || want == WithoutTrailingSlash(d.root)) return d.device;
    }
    return {};
}

DriveType CLinuxDriveSystem::GetDriveType(const std::string& root) {
    if (!CdDeviceFor(root).empty()) return DRIVE_CDROM;
    const std::vector<MountEntry> mounts = Mounts();
    const MountEntry* m = FindMountPoint(mounts, root);
    if (!m) return DRIVE_NO_ROOT_DIR;
    static const char* const kRemote[] = {"nfs",        "nfs4", "cifs", "smb3", "smbfs",    "sshfs",
                                          "fuse.sshfs", "9p",   "afs",  "ceph", "glusterfs"};
    for (const char* t : kRemote)
        if (m->fsType == t) return DRIVE_REMOTE;
    if (m->fsType == "tmpfs" || m->fsType == "ramfs") return DRIVE_RAMDISK;
    if (m->fsType == "iso9660" || m->fsType == "udf") return DRIVE_CDROM;
    // A block device whose sysfs entry says removable (USB sticks, card readers).
    if (m->major != 0) {
        std::string removable;
        const std::string dev =
            "/sys/dev/block/" + std::to_string(m->major) + ":" + std::to_string(m->minor);
        if (ReadWholeFile(dev + "/removable", removable, 16) ||
            ReadWholeFile(dev + "/../removable", removable, 16)) {
            if (!removable.empty() && removable[0] == '1') return DRIVE_REMOVABLE;
        }
        return DRIVE_FIXED;
    }
    return DRIVE_UNKNOWN;
}

bool CLinuxDriveSystem::GetDiskFreeSpace(const std::string& root, DiskGeometry& out) {
    // A drive without a disc has its device node as root: no geometry.
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    struct statvfs vfs {};
    if (::statvfs(root.c_str(), &vfs) != 0) return false;
    out.sectorsPerCluster = 1;
    out.bytesPerSector = static_cast<uint32_t>(vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize);
    out.totalClusters = vfs.f_blocks;
    out.freeClusters = vfs.f_bavail;
    return true;
}

bool CLinuxDriveSystem::GetVolumeLabel(const std::string& root, std::string& storedLabel) {
    const std::vector<MountEntry> mounts = Mounts();
    const MountEntry* m = FindMountPoint(mounts, root);
    if (!m) return false;
    std::string label;
    if (m->major != 0 && ReadUdevLabel(paths_.udevData, m->major, m->minor, label)) {
        storedLabel = HostToStored(label);
        return true;
    }
    if (!m->source.empty() && m->source[0] == '/' &&
        (m->fsType == "iso9660" || m->fsType == "udf") && ReadIsoVolumeLabel(m->source, label)) {
        storedLabel = HostToStored(label);
        return true;
    }
    // A mounted file system whose label nobody reports has none.
    storedLabel.clear();
    return true;
}

bool CLinuxDriveSystem::TrayIoctl(const std::string& root, unsigned long request) {
    const std::string dev = CdDeviceFor(root);
    if (dev.empty()) return false;
    int fd = ::open(dev.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (request == CDROMEJECT) ::ioctl(fd, CDROM_LOCKDOOR, 0);
    bool ok = ::ioctl(fd, request, 0) == 0;
    ::close(fd);
    return ok;
}

bool CLinuxDriveSystem::Eject(const std::string& root) {
    return TrayIoctl(root, CDROMEJECT);
}

bool CLinuxDriveSystem::CloseTray(const std::string& root) {
    return TrayIoctl(root, CDROMCLOSETRAY);
}

}  // namespace orb
