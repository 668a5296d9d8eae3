// SPDX-License-Identifier: GPL-3.0-or-later
// Library file operations on std::filesystem and renameat2: no overwrite, the
// companion follows its index, half-done changes are reported.
#include "library/pane/library_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "index/index_format.h"
#include "platform/error_text.h"
#include "platform/lock_file.h"

namespace orb {

namespace fs = std::filesystem;

namespace {

std::string WithoutFinalSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string WithFinalSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::string BaseName(const std::string& path) {
    std::string p = WithoutFinalSlash(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string Reason(int error) {
    switch (error) {
        case EEXIST:
        case ENOTEMPTY:
            return "同名的文件或文件夹已经存在";
        case ENOENT:
            return "文件或文件夹不存在";
        case EACCES:
        case EPERM:
            return "没有权限";
        case EBUSY:
            return "文件正在使用";
        case EROFS:
            return "介质是只读的";
        case ENAMETOOLONG:
            return "名称太长";
        case ENOSPC:
            return "磁盘空间不足";
        case EINVAL:
            return "不能移到它自己的子文件夹中";
        default:
            return ErrorText(error);
    }
}

std::string Quote(const std::string& path) {
    return "“" + path + "”";
}

LibraryFileResult Failure(std::string message, bool partial = false) {
    LibraryFileResult r;
    r.partial = partial;
    r.message = std::move(message);
    return r;
}

LibraryFileResult Success() {
    LibraryFileResult r;
    r.ok = true;
    return r;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Moves one file or directory to a new path on another file system: copy, then
// remove the original. The copy is removed again when it cannot be completed.
int CopyThenRemove(const std::string& from, const std::string& to, bool& partial) {
    partial = false;
    std::error_code ec;
    fs::file_status st = fs::symlink_status(from, ec);
    if (ec) return ec.value();
    if (Exists(to)) return EEXIST;
    if (fs::is_directory(st)) {
        if (!fs::create_directory(to, ec)) return ec ? ec.value() : EEXIST;
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    } else {
        fs::copy(from, to, fs::copy_options::copy_symlinks, ec);
    }
    if (ec) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
        return ec.value();
    }
    fs::remove_all(from, ec);
    if (ec) {
        // Both now exist: the new copy is complete, part of the old one is left.
        partial = true;
        return ec.value();
    }
    return 0;
}

int MovePath(const std::string& from, const std::string& to, bool& partial) {
    partial = false;
    int error = RenameNoReplace(from, to);
    if (error == EXDEV) return CopyThenRemove(from, to, partial);
    return error;
}

// Moves or renames an index file and its companion as a pair: the companion's
// new name is checked before the index moves, and a companion that cannot follow
// takes the index back with it.
LibraryFileResult MoveDiscPair(const std::string& oldIndex, const std::string& newIndex,
                               const char* verb) {
    const std::string oldCompanion = CompanionPath(oldIndex);
    const std::string newCompanion = CompanionPath(newIndex);
    // A window saving this disc's annotations holds the disc's lock: the pair
    // moves before or after that save, never in its middle.
    CLockFile lock(LockPathFor(oldIndex));
    if (!lock.Lock())
        return Failure(std::string("无法") + verb + Quote(oldIndex) + "：" + Reason(errno));
    const bool hasCompanion = Exists(oldCompanion);
    if (Exists(newIndex))
        return Failure(std::string("无法") + verb + Quote(oldIndex) + "：" + Quote(newIndex) + " " +
                       Reason(EEXIST));
    // A companion left there without its index would be taken for this disc's
    // annotations.
    if (Exists(newCompanion))
        return Failure(std::string("无法") + verb + Quote(oldIndex) + "：" + Quote(newCompanion) +
                       " " + Reason(EEXIST));
    bool partial = false;
    if (int error = MovePath(oldIndex, newIndex, partial))
        return Failure(std::string("无法") + verb + Quote(oldIndex) + "：" + Reason(error),
                       partial);
    if (!hasCompanion) return Success();
    int error = MovePath(oldCompanion, newCompanion, partial);
    if (error == 0) return Success();
    std::string message = std::string("无法") + verb + Quote(oldCompanion) + "：" + Reason(error);
    bool backPartial = false;
    if (!partial && MovePath(newIndex, oldIndex, backPartial) == 0) return Failure(message);
    message += "\n索引文件已在" + Quote(newIndex) + "，注释文件仍在" + Quote(oldCompanion);
    return Failure(message, true);
}

}  // namespace

std::string CheckNewItemName(std::string_view name) {
    if (name.empty()) return "名称不能为空。";
    if (name == "." || name == "..") return "名称不能是“.”或“..”。";
    if (name.find('/') != std::string_view::npos) return "名称中不能含有字符“/”。";
    if (name.find('\0') != std::string_view::npos) return "名称中不能含有空字符。";
    return std::string();
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    return PublishNoReplace(from, to);
}

LibraryFileResult RenameLibraryCategory(const std::string& oldDir, const std::string& newDir) {
    const std::string from = WithoutFinalSlash(oldDir);
    const std::string to = WithoutFinalSlash(newDir);
    if (int error = RenameNoReplace(from, to))
        return Failure("无法重命名" + Quote(from) + "为" + Quote(BaseName(to)) + "：" +
                       Reason(error));
    return Success();
}

LibraryFileResult RenameLibraryDisc(const std::string& oldIndex, const std::string& newIndex) {
    return MoveDiscPair(oldIndex, newIndex, "重命名");
}

LibraryFileResult MoveLibraryCategory(const std::string& dir, const std::string& targetDir) {
    const std::string from = WithoutFinalSlash(dir);
    const std::string to = WithFinalSlash(targetDir) + BaseName(from);
    bool partial = false;
    if (int error = MovePath(from, to, partial))
        return Failure("无法移动" + Quote(from) + "：" + Reason(error), partial);
    return Success();
}

LibraryFileResult MoveLibraryDisc(const std::string& indexPath, const std::string& targetDir) {
    return MoveDiscPair(indexPath, WithFinalSlash(targetDir) + BaseName(indexPath), "移动");
}

LibraryFileResult DeleteLibraryCategory(const std::string& dir) {
    const std::string path = WithoutFinalSlash(dir);
    std::error_code ec;
    std::uintmax_t removed = fs::remove_all(path, ec);
    if (ec)
        return Failure("无法删除" + Quote(path) + "：" + Reason(ec.value()),
                       removed > 0 && removed != static_cast<std::uintmax_t>(-1));
    if (removed == 0) return Failure("无法删除" + Quote(path) + "：" + Reason(ENOENT));
    return Success();
}

LibraryFileResult DeleteLibraryDisc(const std::string& indexPath) {
    CLockFile lock(LockPathFor(indexPath));
    if (!lock.Lock()) return Failure("无法删除" + Quote(indexPath) + "：" + Reason(errno));
    if (::unlink(indexPath.c_str()) != 0)
        return Failure("无法删除" + Quote(indexPath) + "：" + Reason(errno));
    const std::string companion = CompanionPath(indexPath);
    if (::unlink(companion.c_str()) != 0 && errno != ENOENT)
        return Failure("无法删除" + Quote(companion) + "：" + Reason(errno), true);
    return Success();
}

}  // namespace orb
