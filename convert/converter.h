// SPDX-License-Identifier: GPL-3.0-or-later
// Upgrading a library of release 2.2 index files to the current format, file by
// file, without ever leaving an index half written.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace orb {

enum class ConvertOutcome {
    Converted,   // replaced by its new form; its old companion is gone
    AlreadyNew,  // began with "ORBF": left exactly as it was
    Failed,      // left exactly as it was; reason says why
};

struct ConvertFileResult {
    std::string path;  // host path
    ConvertOutcome outcome = ConvertOutcome::Failed;
    std::string reason;  // host text; for Failed, and for a Converted file a remark
};

// Converts one index file in place. The new form is written to a uniquely named
// temporary file beside it,
// flushed, and renamed over path; only then is the old companion path + "r"
// deleted. On any failure path is untouched and the temporary file removed.
ConvertFileResult ConvertIndexFile(const std::string& path);

struct ConvertSummary {
    size_t converted = 0;
    size_t alreadyNew = 0;
    size_t failed = 0;
    std::vector<ConvertFileResult> failures;  // in the order they happened

    bool Succeeded() const { return failed == 0; }
    size_t Total() const { return converted + alreadyNew + failed; }
};

// Converts every "*.orb" file of directory (the extension's letters in any case),
// then each subdirectory the same way, depth first, each directory's entries in
// the order the file system lists them. Symbolic links to directories are not
// followed; a link to an index file converts the file it points to. A directory
// that does not exist converts nothing and is no failure; one that exists but
// cannot be listed counts as failed. onFile, when set, hears of each index file as
// soon as it is done.
ConvertSummary ConvertLibraryDirectory(
    const std::string& directory, const std::function<void(const ConvertFileResult&)>& onFile = {});

// One line of the command-line report for a file.
std::string FormatResultLine(const ConvertFileResult& result);
// The command-line summary line.
std::string FormatSummaryLine(const ConvertSummary& summary);
// The command-line mode: converts directory, writes one line per index file as it
// is done and then the summary to out. Returns the exit status: 0 when nothing
// failed, else 1.
int ConvertForCommandLine(const std::string& directory, std::ostream& out);

// The dialog's closing message: "转换成功!" when nothing failed, otherwise the
// counts and the first maxPaths failed files with their reasons.
std::string ConversionMessage(const ConvertSummary& summary, size_t maxPaths = 5);

}  // namespace orb
