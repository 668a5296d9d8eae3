// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a new index file from a complete scan tree: the one rule that both the
// scanner and the converter follow.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "index/index_format.h"
#include "index/scan_tree.h"

namespace orb {

enum class WriteResult {
    Ok,
    CreateFailed,  // the file could not be created
    WriteFailed,   // writing, flushing or the final rename failed
    TooLarge,      // the records would not fit the format's 32-bit offsets
};

struct IndexWriteOptions {
    std::string_view remark;
    std::string_view cover;
    // Called after each record is appended, before the directory's contents.
    std::function<void()> onRecordWritten;
    // Flush to disk before the file replaces path.
    bool durable = false;
    // Name of the file written first and renamed over path on success; empty means
    // a new uniquely named file beside path.
    std::string tempPath;
    // Whether the new file may replace one at path. Without, a file that appeared
    // at path while this one was written (another scan to the same name) is kept
    // and the write fails.
    bool replaceExisting = true;
    // A new index removes any annotation companion under its name (the replaced
    // index's, or one left alone), whose ids would otherwise land on the new
    // index's unrelated entries.
    bool dropCompanion = false;
};

// Writes "ORBF", the header, the records depth first (each list in tree order,
// each directory's record directly followed by its contents), then the remark and
// the cover. The header's label, capacity and counts are taken as given; its remark
// and cover offsets and lengths are set here. Every link and record offset is
// stored back into the tree's items. The file is complete at path only on Ok; on
// any failure an existing file at path is left untouched. A link at path is
// written through to its target; an existing file this user may not write, or
// that is not a regular file, is refused with CreateFailed.
WriteResult WriteIndexFile(const std::string& path, IndexHeader& header, CScanTree& tree,
                           const IndexWriteOptions& options = {}, std::string* error = nullptr);

}  // namespace orb
