// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/index_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/error_text.h"

namespace orb {

namespace {

std::string FolderOfPath(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

class BufferedFile {
public:
    explicit BufferedFile(int fd) : fd_(fd) { buf_.reserve(kChunk + 512); }
    std::string& Buffer() { return buf_; }
    bool MaybeFlush() { return buf_.size() < kChunk || Flush(); }
    bool Flush() {
        if (buf_.empty()) return true;
        bool ok = WriteAppend(fd_, buf_.data(), buf_.size());
        buf_.clear();
        return ok;
    }

private:
    static constexpr size_t kChunk = 1 << 20;
    int fd_;
    std::string buf_;
};

}  // namespace

WriteResult WriteIndexFile(const std::string& path, IndexHeader& header, CScanTree& tree,
                           const IndexWriteOptions& options, std::string* error) {
    auto setError = [&](int err) {
        if (error) *error = ErrorText(err);
    };

    // Lay the records out first: depth-first preorder is the file order, so each
    // record's offset is the running sum of the sizes before it and every link is
    // known before anything is written.
    std::vector<ScanNodeId> order;
    order.reserve(tree.Size());
    {
        std::vector<ScanNodeId> stack;
        for (ScanNodeId id = tree.Head(); id != kNoNode;) {
            order.push_back(id);
            const ScanNode& n = tree.Node(id);
            if (n.firstChild != kNoNode) {
                if (n.nextSibling != kNoNode) stack.push_back(n.nextSibling);
                id = n.firstChild;
            } else if (n.nextSibling != kNoNode) {
                id = n.nextSibling;
            } else if (!stack.empty()) {
                id = stack.back();
                stack.pop_back();
            } else {
                id = kNoNode;
            }
        }
    }
    uint64_t pos = kFirstEntryOffset;
    for (ScanNodeId id : order) {
        ScanItem& it = tree.Node(id).item;
        it.recordOffset = static_cast<int32_t>(pos);
        pos += kRecordFixedSize + it.nameLength;
        if (pos > static_cast<uint64_t>(INT32_MAX)) {
            if (error) *error = "index too large";
            return WriteResult::TooLarge;
        }
    }
    const uint64_t recordsEnd = pos;
    if (recordsEnd + options.remark.size() + options.cover.size() > UINT32_MAX) {
        if (error) *error = "index too large";
        return WriteResult::TooLarge;
    }
    for (ScanNodeId id : order) {
        ScanNode& n = tree.Node(id);
        n.item.firstChild =
            n.firstChild == kNoNode ? kNoLink : tree.Node(n.firstChild).item.recordOffset;
        n.item.nextSibling =
            n.nextSibling == kNoNode ? kNoLink : tree.Node(n.nextSibling).item.recordOffset;
    }

    header.remarkOffset = static_cast<uint32_t>(recordsEnd);
    header.remarkLength = static_cast<uint32_t>(options.remark.size());
    header.coverOffset = static_cast<uint32_t>(recordsEnd + options.remark.size());
    header.coverSize = static_cast<uint32_t>(options.cover.size());

    // An existing file there must be one this user may replace; a link is saved
    // through to the file it leads to.
    SaveTarget target;
    int resolveErr = 0;
    if (!ResolveSaveTarget(path, target, resolveErr)) {
        setError(resolveErr);
        return WriteResult::CreateFailed;
    }
    std::string tmp = options.tempPath;
    int fd = -1;
    if (tmp.empty()) {
        RemoveStaleTemps(FolderOfPath(target.path));
        fd = CreateUniqueTemp(target, tmp);
    } else {
        fd = CreateSaveTemp(tmp, target);
    }
    if (fd < 0) {
        setError(errno);
        return WriteResult::CreateFailed;
    }
    auto fail = [&](int err) {
        setError(err ? err : EIO);
        ::close(fd);
        ::unlink(tmp.c_str());
        return WriteResult::WriteFailed;
    };

    BufferedFile out(fd);
    std::string& buf = out.Buffer();
    buf.append(kIndexMagic, kMagicSize);
    unsigned char hdr[kHeaderSize];
    EncodeHeader(header, hdr);
    buf.append(reinterpret_cast<const char*>(hdr), kHeaderSize);
    for (ScanNodeId id : order) {
        const ScanNode& n = tree.Node(id);
        const ScanItem& it = n.item;
        AppendRecord(buf, it.firstChild, it.nextSibling, it.flags, it.Size(), it.writeTime,
                     tree.Name(id));
        if (options.onRecordWritten) options.onRecordWritten();
        if (!out.MaybeFlush()) return fail(errno);
    }
    buf.append(options.remark);
    if (!out.MaybeFlush()) return fail(errno);
    buf.append(options.cover);
    if (!out.Flush()) return fail(errno);
    if (options.durable && !SyncFile(fd)) return fail(errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        setError(err);
        return WriteResult::WriteFailed;
    }
    if (tmp != target.path) {
        int err = 0;
        if (options.replaceExisting)
            err = RenameOver(tmp, target.path, options.durable) ? 0 : errno;
        else
            err = PublishNoReplace(tmp, target.path, options.durable);
        if (err != 0) {
            ::unlink(tmp.c_str());
            setError(err);
            return WriteResult::WriteFailed;
        }
    }
    if (options.dropCompanion) {
        ::unlink(CompanionPath(path).c_str());
        if (target.path != path) ::unlink(CompanionPath(target.path).c_str());
    }
    return WriteResult::Ok;
}

}  // namespace orb
