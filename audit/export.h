// SPDX-License-Identifier: GPL-3.0-or-later
// Listings out of the catalogue: a disc's entries, search hits, the duplicates
// report and a verification report, as CSV (UTF-8 with a byte-order mark, RFC 4180
// quoting), one self-contained HTML page, or JSON. Stored names come out exactly:
// bytes that are no valid GB18030 text stay visible as \xNN.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "audit/duplicates.h"
#include "audit/verify.h"
#include "index/index_reader.h"

namespace orb {

enum class ExportFormat { Csv, Html, Json };

// Stored text as UTF-8 for export. Bytes that do not form a GB18030 character, and
// control characters, are written as \xNN; in a name a lone '\' is written \x5c
// as well, so that '\' between components stays unambiguous. Text (annotations,
// remarks) keeps its line breaks and tabs.
std::string ExportName(std::string_view stored);
std::string ExportText(std::string_view stored);
// A stored path: each component as a name, '\' between them kept.
std::string ExportPath(std::string_view stored);

// Field and document escapes of UTF-8 text.
std::string CsvField(std::string_view utf8);  // quoted only when it has to be
std::string HtmlEscape(std::string_view utf8);
std::string JsonQuote(std::string_view utf8);

// "2023-11-14 22:13:20" in local time; ISO 8601 UTC "2023-11-14T22:13:20Z".
std::string LocalTimeText(const FILETIME& ft);
std::string UtcIsoTime(const FILETIME& ft);

// The disc a listing comes from, shown at the top of an HTML page.
struct ExportDiscInfo {
    std::string label;  // UTF-8
    uint64_t capacity = 0;
    uint32_t files = 0;
    uint32_t directories = 0;
    std::string remark;  // UTF-8
    std::string cover;   // the picture's bytes as stored; empty for none
};

struct ExportColumn {
    std::string title;     // CSV and HTML header
    std::string jsonKey;   // empty: not in JSON
    bool numeric = false;  // JSON number instead of string
    bool jsonOnly = false;
};

// Writes one table. Cells are UTF-8; a numeric cell holds decimal digits.
class CTableWriter {
public:
    CTableWriter(std::ostream& out, ExportFormat format, std::string title,
                 std::vector<ExportColumn> columns, const ExportDiscInfo* disc = nullptr,
                 std::string jsonArray = "entries");
    void Row(const std::vector<std::string>& cells);
    void Finish();

private:
    std::ostream& out_;
    ExportFormat format_;
    std::vector<ExportColumn> columns_;
    bool firstRow_ = true;
    bool finished_ = false;
};

// Every entry of the open index, depth first, with path, kind, size, time and
// annotation. False when stopped or the index could not be walked to its end.
bool ExportListing(CIndexReader& reader, ExportFormat format, std::ostream& out,
                   const std::atomic<bool>* stop = nullptr);

// One search hit as the export sees it.
struct ExportHit {
    std::string_view name;        // stored
    std::string_view parentPath;  // stored, "LABEL:\dir\"
    std::string_view annotation;  // stored
    std::string_view indexPath;   // host
    uint64_t size = 0;
    FILETIME writeTime;
    bool isDirectory = false;
};
void ExportSearchHits(std::ostream& out, ExportFormat format, size_t count,
                      const std::function<ExportHit(size_t)>& hit);

void ExportDuplicates(std::ostream& out, ExportFormat format, const DupeResult& result);

// One verification item as a line of text ("kind\tpath\tdetails") or as a JSON
// object; both without a line end.
std::string VerifyItemLine(const VerifyItem& item);
std::string VerifyItemJson(const VerifyItem& item);

}  // namespace orb
