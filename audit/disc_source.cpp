// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a disc from a folder, and choosing the source for a path.
#include "audit/disc_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/error_text.h"

namespace orb {

namespace {

std::mutex gFactoryMutex;
ImageSourceFactory gImageFactory;

class CFolderFile : public IDiscFile {
public:
    explicit CFolderFile(int fd) : fd_(fd) {
        // The whole file is read once from start to end.
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~CFolderFile() override { ::close(fd_); }
    int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) override {
        for (;;) {
            ssize_t r = ::pread(fd_, buf, n, static_cast<off_t>(offset));
            if (r >= 0) return r;
            if (errno == EINTR) continue;
            error = ErrorText(errno);
            return -1;
        }
    }

private:
    int fd_;
};

}  // namespace

bool CFolderDiscSource::List(const std::string& relDir, std::vector<DiscEntry>& out,
                             std::string& error) {
    out.clear();
    const std::string path = relDir.empty() ? root_ : JoinPath(root_, relDir);
    errno = 0;
    bool ok = ListDirectory(path, [&](const DirEntry& e) {
        if (e.name == "." || e.name == "..") return true;
        DiscEntry d;
        d.name = e.name;
        d.size = e.size;
        d.writeTime = e.writeTime;
        d.isDirectory = e.isDirectory;
        d.isSymlink = e.isSymlink;
        out.push_back(std::move(d));
        return true;
    });
    if (!ok) error = errno ? ErrorText(errno) : "无法列出目录";
    return ok;
}

std::unique_ptr<IDiscFile> CFolderDiscSource::Open(const std::string& relPath, std::string& error) {
    int fd = OpenRegularFile(JoinPath(root_, relPath), false);
    if (fd < 0) {
        error = ErrorText(errno);
        return nullptr;
    }
    return std::make_unique<CFolderFile>(fd);
}

void SetImageSourceFactory(ImageSourceFactory factory) {
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    gImageFactory = std::move(factory);
}

std::unique_ptr<IVerifySource> OpenDiscSource(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + ErrorText(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) return std::make_unique<CFolderDiscSource>(path);
    ImageSourceFactory factory;
    {
        std::lock_guard<std::mutex> lock(gFactoryMutex);
        factory = gImageFactory;
    }
    if (!factory) {
        error = path + ": disc images cannot be read by this build";
        return nullptr;
    }
    return factory(path, error);
}

}  // namespace orb
