// SPDX-License-Identifier: GPL-3.0-or-later
// What a verification reads a disc through: a folder (a mounted disc, a copy of
// one) or, through a factory registered by the image reader, an image file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace orb {

// One entry of a disc directory, in the order the disc lists it.
struct DiscEntry {
    std::string name;    // host bytes
    std::string stored;  // the name as an index stores it, where the source knows it
    uint64_t size = 0;
    FILETIME writeTime;
    bool isDirectory = false;
    bool isSymlink = false;  // has no data of its own to read
};

class IDiscFile {
public:
    virtual ~IDiscFile() = default;
    // Reads up to n bytes at offset: the count read, 0 at the end, -1 on an error
    // (error then says why).
    virtual int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) = 0;
};

class IVerifySource {
public:
    virtual ~IVerifySource() = default;
    // relDir is a host path relative to the disc root ("" for the root, "a/b").
    // False, with error set, when the directory cannot be listed.
    virtual bool List(const std::string& relDir, std::vector<DiscEntry>& out,
                      std::string& error) = 0;
    // Null, with error set, when the file cannot be opened.
    virtual std::unique_ptr<IDiscFile> Open(const std::string& relPath, std::string& error) = 0;
};

// A folder as a disc: the mount point of a disc in a drive, or any folder.
class CFolderDiscSource : public IVerifySource {
public:
    explicit CFolderDiscSource(std::string root) : root_(std::move(root)) {}
    bool List(const std::string& relDir, std::vector<DiscEntry>& out, std::string& error) override;
    std::unique_ptr<IDiscFile> Open(const std::string& relPath, std::string& error) override;
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

// Makes a source for an image file; set by the image reader when it is linked in.
using ImageSourceFactory =
    std::function<std::unique_ptr<IVerifySource>(const std::string& path, std::string& error)>;
void SetImageSourceFactory(ImageSourceFactory factory);

// A source for a folder, or for an image file when an image reader is registered.
// Null, with error set, otherwise.
std::unique_ptr<IVerifySource> OpenDiscSource(const std::string& path, std::string& error);

}  // namespace orb
