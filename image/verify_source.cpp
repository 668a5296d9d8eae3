// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/verify_source.h"

#include <unordered_map>

#include "image/disc_image.h"
#include "index/scan_tree.h"
#include "platform/text.h"

namespace orb {

namespace {

class CImageDiscFile : public IDiscFile {
public:
    explicit CImageDiscFile(std::unique_ptr<IImageFileData> data) : data_(std::move(data)) {}
    int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) override {
        return data_->Read(buf, n, offset, error);
    }

private:
    std::unique_ptr<IImageFileData> data_;
};

class CImageVerifySource : public IVerifySource {
public:
    bool Load(const std::string& path, std::string& error) {
        if (!image_.Open(path, error) || !image_.List(tree_, {}, error)) return false;
        // Host paths of the directories, for List; stored paths of every entry, for Open.
        dirs_.emplace("", kNoNode);
        Index(tree_.Head(), "", "");
        return true;
    }

    bool List(const std::string& relDir, std::vector<DiscEntry>& out, std::string& error) override {
        out.clear();
        auto it = dirs_.find(relDir);
        if (it == dirs_.end()) {
            error = "映象文件中没有这个目录";
            return false;
        }
        ScanNodeId n = it->second == kNoNode ? tree_.Head() : tree_.Node(it->second).firstChild;
        for (; n != kNoNode; n = tree_.Node(n).nextSibling) {
            const ScanItem& item = tree_.Node(n).item;
            DiscEntry d;
            d.stored = std::string(tree_.Name(n));
            d.name = StoredToHost(d.stored);
            d.size = item.Size();
            d.writeTime = item.writeTime;
            d.isDirectory = (item.flags & kEntryDirectory) != 0;
            out.push_back(std::move(d));
        }
        return true;
    }

    std::unique_ptr<IDiscFile> Open(const std::string& relPath, std::string& error) override {
        auto it = files_.find(relPath);
        if (it == files_.end()) {
            error = "映象文件中没有这个文件";
            return nullptr;
        }
        std::unique_ptr<IImageFileData> data = image_.OpenFile(it->second, error);
        if (!data) return nullptr;
        return std::make_unique<CImageDiscFile>(std::move(data));
    }

private:
    void Index(ScanNodeId first, const std::string& hostDir, const std::string& storedDir) {
        // Iterative over the levels: a deep image cannot exhaust the stack.
        struct Level {
            ScanNodeId node;
            std::string host, stored;
        };
        std::vector<Level> todo{{first, hostDir, storedDir}};
        while (!todo.empty()) {
            Level level = std::move(todo.back());
            todo.pop_back();
            for (ScanNodeId n = level.node; n != kNoNode; n = tree_.Node(n).nextSibling) {
                const std::string name(tree_.Name(n));
                const std::string host =
                    level.host.empty() ? StoredToHost(name) : level.host + "/" + StoredToHost(name);
                const std::string stored = level.stored.empty() ? name : level.stored + "/" + name;
                if (tree_.Node(n).item.flags & kEntryDirectory) {
                    dirs_.emplace(host, n);
                    todo.push_back({tree_.Node(n).firstChild, host, stored});
                } else {
                    files_.emplace(host, stored);
                }
            }
        }
    }

    CDiscImage image_;
    CScanTree tree_;
    std::unordered_map<std::string, ScanNodeId> dirs_;    // host path -> node
    std::unordered_map<std::string, std::string> files_;  // host path -> stored path
};

}  // namespace

std::unique_ptr<IVerifySource> OpenImageVerifySource(const std::string& path, std::string& error) {
    auto source = std::make_unique<CImageVerifySource>();
    if (!source->Load(path, error)) return nullptr;
    return source;
}

void RegisterImageVerifySource() {
    SetImageSourceFactory(&OpenImageVerifySource);
}

}  // namespace orb
