// SPDX-License-Identifier: GPL-3.0-or-later
// The disc library on disk: directories below the library root are categories,
// files whose name ends in ".orb" (any letter case) are discs. These functions
// fix which items exist and their order; every view of the library (library
// pane, search scope, location dialog) and every tool that walks it uses them,
// so they all agree.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// One category or disc of a library directory.
struct LibraryItem {
    bool isCategory = false;
    // The label the tree shows, as stored text: a category's directory name, a
    // disc's file name without its last 4 characters (".orb").
    std::string label;
    // The name on disk (host bytes) and the full host path: a category's path ends
    // with '/', a disc's path is its index file (with the extension as on disk).
    std::string hostName;
    std::string hostPath;
    // Levels below the library root: 0 for the root's own children.
    int depth = 0;
    // The name on disk is a symbolic link (to a directory or to an index file).
    bool isLink = false;
};

// The library order: every category before every disc, then labels in natural
// order (CompareNatural: numbers by value, A-Z folded). Negative, zero or
// positive like strcmp; equal labels of one kind compare equal.
int CompareLibraryItems(bool category1, std::string_view storedLabel1, bool category2,
                        std::string_view storedLabel2);
inline int CompareLibraryItems(const LibraryItem& a, const LibraryItem& b) {
    return CompareLibraryItems(a.isCategory, a.label, b.isCategory, b.label);
}

// True when a file name ends in ".orb" in any letter case; a file named exactly
// ".orb" is a disc with an empty label, "a.orb.txt" is not a disc.
bool IsDiscFileName(std::string_view fileName);
// The name without its last 4 characters (the name itself when shorter).
std::string_view DiscLabelOfFileName(std::string_view fileName);

// The path without the extension of its file name (".orb", ".ORB", ".index"...);
// a name without a dot is returned whole.
std::string StripExtension(const std::string& path);
// The file name part of a path.
std::string FileNameOf(const std::string& path);

// The categories and (with showDiscs) discs directly inside one directory, in
// library order. A directory that cannot be listed gives an empty list. Other
// files, "." and ".." are left out; hidden directories are categories too. A
// symbolic link to a directory is a category; a link named *.orb is a disc. Kinds
// come from the directory listing; only links are looked up.
std::vector<LibraryItem> ListLibraryLevel(const std::string& hostDir, bool showDiscs = true,
                                          int depth = 0);

// Visits every item below the library root depth first in library order: each
// category right before its contents, each level's categories before its discs.
// This is the order a filled library tree gives when walked item by item. A
// symbolic link to a directory is visited as a category but never entered,
// wherever it leads (a loop, a second way to a category, "/"), so links can
// never multiply or widen the walk.
// visit returns false to end the walk; WalkLibrary then returns false.
bool WalkLibrary(const std::string& hostRoot, bool showDiscs,
                 const std::function<bool(const LibraryItem&)>& visit);

// While one lives, walks on its thread of a root already walked (with the same
// showDiscs) replay the first walk instead of listing the directories again:
// start-up fills the library pane, the scope tree and the watcher's snapshot
// from one walk. Only for a stretch in which the library is not changed.
class CSharedLibraryWalk {
public:
    CSharedLibraryWalk();
    ~CSharedLibraryWalk();
    CSharedLibraryWalk(const CSharedLibraryWalk&) = delete;
    CSharedLibraryWalk& operator=(const CSharedLibraryWalk&) = delete;

    struct Recording {
        std::string root;
        bool showDiscs = true;
        std::vector<LibraryItem> items;
        // False when the walk was stopped before its end.
        bool complete = true;
    };
    // Walks of recording's root replay it: a walk made elsewhere, on a worker
    // thread at start-up, or an empty one that stands for a walk still running.
    void Adopt(Recording recording);
    // Walks made while this lived that read the directories.
    int DirectoryWalks() const { return walks_; }

private:
    friend bool WalkLibrary(const std::string&, bool,
                            const std::function<bool(const LibraryItem&)>&);
    CSharedLibraryWalk* outer_;
    std::vector<Recording> recordings_;
    int walks_ = 0;
};

// A walk of the library into a recording, for CSharedLibraryWalk::Adopt. It
// ends early, incomplete, once *stop is set.
CSharedLibraryWalk::Recording RecordLibraryWalk(const std::string& hostRoot, bool showDiscs,
                                                const std::atomic<bool>* stop = nullptr);

// The index paths of every disc of the library, in walk order.
std::vector<std::string> LibraryDiscPaths(const std::string& hostRoot);

// True when both paths lead to one file on disk (same device and inode), whatever
// links, letter case or spelling took them there. False when either is missing.
bool IsSameFile(const std::string& path1, const std::string& path2);
// True when the file at filePath lies below the directory dir, judged by identity:
// one of the directories filePath names on its way down is dir itself. rest then
// gets the part of filePath below that directory ("Sub/X.orb"), so the file's path
// after dir moved is the new directory path + rest.
bool IsBelowDirectory(const std::string& filePath, const std::string& dir,
                      std::string* rest = nullptr);

}  // namespace orb
