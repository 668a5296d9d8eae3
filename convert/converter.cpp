// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "convert/old_index.h"
#include "index/index_writer.h"
#include "library/store/library_store.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {

enum class ReadResult { Old, New, Failed };

// Reads a candidate index. A file that begins with the new magic is reported as
// New after reading only those four bytes.
ReadResult ReadCandidate(const std::string& path, std::string& data, mode_t& mode,
                         std::string& error) {
    // Never blocks on a FIFO or a device named like an index.
    int fd = OpenRegularFile(path, false);
    if (fd < 0) {
        error = errno == EINVAL || errno == EISDIR
                    ? std::string("不是普通文件")
                    : std::string("无法打开文件: ") + ErrorText(errno);
        return ReadResult::Failed;
    }
    struct stat st {};
    ReadResult result = ReadResult::Failed;
    if (fstat(fd, &st) != 0) {
        error = std::string("无法读取文件: ") + ErrorText(errno);
    } else if (static_cast<uint64_t>(st.st_size) > static_cast<uint64_t>(INT32_MAX)) {
        error = "文件太大，不是旧版索引文件";
    } else {
        mode = st.st_mode & 07777;
        data.resize(static_cast<size_t>(st.st_size));
        if (!data.empty() && !ReadFully(fd, data.data(), data.size(), 0)) {
            error = std::string("读取文件失败: ") + ErrorText(errno ? errno : EIO);
        } else {
            result = HasNewIndexMagic(data) ? ReadResult::New : ReadResult::Old;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

ConvertFileResult ConvertIndexFile(const std::string& path) {
    ConvertFileResult r;
    r.path = path;
    std::string data;
    mode_t mode = 0644;
    switch (ReadCandidate(path, data, mode, r.reason)) {
        case ReadResult::Failed:
            return r;
        case ReadResult::New:
            r.outcome = ConvertOutcome::AlreadyNew;
            return r;
        case ReadResult::Old:
            break;
    }

    OldIndexContent old;
    if (!ParseOldIndex(data, old, &r.reason)) return r;

    IndexWriteOptions options;
    options.remark = old.remark;
    options.cover = old.cover;
    options.durable = true;
    std::string error;
    switch (WriteIndexFile(path, old.header, old.tree, options, &error)) {
        case WriteResult::Ok:
            break;
        case WriteResult::CreateFailed:
            // The file is read-only (or not this user's to write), or the temporary
            // file could not be made beside it.
            r.reason = "无法写入索引文件或在其目录中创建临时文件 " + path + ": " + error;
            return r;
        case WriteResult::WriteFailed:
            r.reason = "写入或替换索引文件失败: " + error;
            return r;
        case WriteResult::TooLarge:
            r.reason = "转换后的索引超出新格式的大小限制";
            return r;
    }
    r.outcome = ConvertOutcome::Converted;
    ::chmod(path.c_str(), mode);  // the new file keeps the old one's permissions
    // Annotation ids of the old file are record offsets that no longer exist.
    const std::string companion = path + "r";
    if (::unlink(companion.c_str()) != 0 && errno != ENOENT)
        r.reason = "旧注释文件 " + companion + " 未能删除: " + ErrorText(errno);
    return r;
}

ConvertSummary ConvertLibraryDirectory(
    const std::string& directory, const std::function<void(const ConvertFileResult&)>& onFile) {
    ConvertSummary summary;
    auto record = [&](ConvertFileResult&& result) {
        switch (result.outcome) {
            case ConvertOutcome::Converted:
                ++summary.converted;
                break;
            case ConvertOutcome::AlreadyNew:
                ++summary.alreadyNew;
                break;
            case ConvertOutcome::Failed:
                ++summary.failed;
                break;
        }
        if (onFile) onFile(result);
        if (result.outcome == ConvertOutcome::Failed) summary.failures.push_back(std::move(result));
    };

    struct stat top {};
    if (directory.empty() || ::stat(directory.c_str(), &top) != 0 || !S_ISDIR(top.st_mode))
        return summary;

    // Directories still to do, the next one on top: depth first, in listing order.
    std::vector<std::string> pending{directory};
    while (!pending.empty()) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        // The listing is taken in full first: converting writes and renames files in
        // the same directory.
        std::vector<std::string> files;
        std::vector<std::string> subdirs;
        const bool listed = ListDirectory(dir, [&](const DirEntry& e) {
            if (e.name == "." || e.name == "..") return true;
            std::string full = JoinPath(dir, e.name);
            if (e.isSymlink) {
                struct stat st {};
                // Only a link to an index file is taken, as the file it names, so
                // the new file replaces the target and not the link.
                if (IsDiscFileName(e.name) && ::stat(full.c_str(), &st) == 0 &&
                    S_ISREG(st.st_mode)) {
                    if (char* real = ::realpath(full.c_str(), nullptr)) {
                        files.emplace_back(real);
                        std::free(real);
                    }
                }
            } else if (e.isDirectory) {
                subdirs.push_back(std::move(full));
            } else if (IsDiscFileName(e.name)) {
                files.push_back(std::move(full));
            }
            return true;
        });
        if (!listed) {
            ConvertFileResult r;
            r.path = dir;
            r.reason = std::string("无法读取目录: ") + ErrorText(errno);
            record(std::move(r));
            continue;
        }
        for (const std::string& file : files) record(ConvertIndexFile(file));
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    return summary;
}

std::string FormatResultLine(const ConvertFileResult& result) {
    switch (result.outcome) {
        case ConvertOutcome::Converted:
            return "已转换: " + result.path +
                   (result.reason.empty() ? "" : " (" + result.reason + ")");
        case ConvertOutcome::AlreadyNew:
            return "已是新格式，未改动: " + result.path;
        case ConvertOutcome::Failed:
            break;
    }
    return "失败: " + result.path + " (" + result.reason + ")";
}

int ConvertForCommandLine(const std::string& directory, std::ostream& out) {
    ConvertSummary summary = ConvertLibraryDirectory(
        directory, [&](const ConvertFileResult& r) { out << FormatResultLine(r) << std::endl; });
    out << FormatSummaryLine(summary) << std::endl;
    return summary.Succeeded() ? 0 : 1;
}

std::string FormatSummaryLine(const ConvertSummary& s) {
    return "已转换 " + std::to_string(s.converted) + " 个，已是新格式 " +
           std::to_string(s.alreadyNew) + " 个，失败 " + std::to_string(s.failed) + " 个。";
}

std::string ConversionMessage(const ConvertSummary& s, size_t maxPaths) {
    if (s.Succeeded()) return "转换成功!";
    std::string text =
        "有 " + std::to_string(s.failed) + " 项未能转换，失败的索引文件保持原样。\n\n";
    text += "已转换: " + std::to_string(s.converted) + " 个\n";
    text += "已是新格式: " + std::to_string(s.alreadyNew) + " 个\n";
    text += "失败: " + std::to_string(s.failed) + " 个\n\n失败的文件:";
    const size_t shown = std::min(maxPaths, s.failures.size());
    for (size_t i = 0; i < shown; ++i)
        text += "\n" + s.failures[i].path + " (" + s.failures[i].reason + ")";
    if (s.failures.size() > shown)
        text += "\n……还有 " + std::to_string(s.failures.size() - shown) + " 个";
    return text;
}

}  // namespace orb
