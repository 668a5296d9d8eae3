// SPDX-License-Identifier: GPL-3.0-or-later
// Renames, moves and deletes of library items on disk. A disc is its index file
// together with its annotation companion; nothing here ever replaces an existing
// file or directory, and a change that stops half way says so.
#pragma once

#include <string>
#include <string_view>

namespace orb {

struct LibraryFileResult {
    bool ok = false;
    // Something changed on disk before the failure and could not be undone: the
    // library no longer matches the tree.
    bool partial = false;
    // For the user (host text): the file concerned and the system's reason.
    std::string message;
};

// Why a label cannot name a library item ("" when it can): empty, "." or "..", or
// holding '/' or a NUL. Checked before anything on disk is touched.
std::string CheckNewItemName(std::string_view name);

// Renames from -> to, refusing when to exists (atomically where the file system
// allows). 0 or the errno of the failure.
int RenameNoReplace(const std::string& from, const std::string& to);

// A category directory gets a new name in the same parent. Paths may end with '/'.
LibraryFileResult RenameLibraryCategory(const std::string& oldDir, const std::string& newDir);
// An index file gets a new name and its companion (when there is one) follows.
// Refused before anything changes when either new name is taken.
LibraryFileResult RenameLibraryDisc(const std::string& oldIndex, const std::string& newIndex);

// Moves a category directory into targetDir, keeping its name.
LibraryFileResult MoveLibraryCategory(const std::string& dir, const std::string& targetDir);
// Moves an index file and its companion into targetDir, keeping their names.
LibraryFileResult MoveLibraryDisc(const std::string& indexPath, const std::string& targetDir);

// Deletes a category with everything below it, or a disc with its companion.
LibraryFileResult DeleteLibraryCategory(const std::string& dir);
LibraryFileResult DeleteLibraryDisc(const std::string& indexPath);

}  // namespace orb
