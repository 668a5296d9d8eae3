// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/export.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "audit/index_walk.h"
#include "platform/text.h"

namespace orb {

namespace {

// Length of the GB18030 character at p, or 0 when the bytes there form none.
size_t ValidCharLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = *p;
    if (c < 0x80) return 1;
    if (c == 0x80 || c == 0xFF || end - p < 2) return 0;
    const unsigned char c2 = p[1];
    if (c2 >= 0x30 && c2 <= 0x39) {
        if (end - p < 4) return 0;
        return (p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39) ? 4 : 0;
    }
    return ((c2 >= 0x40 && c2 <= 0x7E) || (c2 >= 0x80 && c2 <= 0xFE)) ? 2 : 0;
}

void AppendEscape(std::string& out, unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", b);
    out += buf;
}

bool HasReplacement(std::string_view s) {
    return s.find("\xEF\xBF\xBD") != std::string_view::npos;
}

std::string ExportStored(std::string_view stored, bool isName) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
    const auto* end = p + stored.size();
    while (p < end) {
        const size_t n = ValidCharLength(p, end);
        if (n == 0) {
            AppendEscape(out, *p++);
            continue;
        }
        if (n == 1) {
            const unsigned char c = *p++;
            const bool keep = !isName && (c == '\n' || c == '\r' || c == '\t');
            if ((c < 0x20 || c == 0x7F || (isName && c == '\\')) && !keep)
                AppendEscape(out, c);
            else
                out += static_cast<char>(c);
            continue;
        }
        // A well-formed sequence that the table has no character for (beyond
        // Unicode) is kept as its bytes too.
        std::string host = StoredToHost(std::string_view(reinterpret_cast<const char*>(p), n));
        if (HasReplacement(host)) {
            for (size_t k = 0; k < n; ++k) AppendEscape(out, p[k]);
        } else {
            out += host;
        }
        p += n;
    }
    return out;
}

struct CalendarTime {
    bool ok = false;
    struct tm tm {};
};

CalendarTime ToCalendar(const FILETIME& ft, bool local) {
    CalendarTime c;
    const time_t t = static_cast<time_t>(FileTimeToUnixSeconds(ft));
    c.ok = (local ? localtime_r(&t, &c.tm) : gmtime_r(&t, &c.tm)) != nullptr;
    return c;
}

std::string Base64(std::string_view data) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                           (static_cast<unsigned char>(data[i + 1]) << 8) |
                           static_cast<unsigned char>(data[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < data.size()) {
        uint32_t v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < data.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// The picture type of a cover by its first bytes; null for one a page cannot show.
const char* PictureMime(std::string_view b) {
    if (b.size() >= 3 && b.compare(0, 3, "\xFF\xD8\xFF") == 0) return "image/jpeg";
    if (b.size() >= 4 && b.compare(0, 4, "GIF8") == 0) return "image/gif";
    if (b.size() >= 8 && b.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) return "image/png";
    if (b.size() >= 2 && b.compare(0, 2, "BM") == 0) return "image/bmp";
    return nullptr;
}

// The cover's bytes straight from the index file: a page needs them as stored,
// not decoded.
std::string ReadCover(const CIndexReader& reader) {
    const IndexHeader& h = reader.Header();
    std::string bytes;
    if (h.coverSize == 0 || h.coverSize > (64u << 20)) return bytes;
    const int fd = OpenRegularFile(reader.GetFilePath(), false);
    if (fd < 0) return bytes;
    bytes.resize(h.coverSize);
    if (!ReadFully(fd, bytes.data(), bytes.size(), h.coverOffset)) bytes.clear();
    ::close(fd);
    return bytes;
}

std::string Number(uint64_t v) {
    return std::to_string(v);
}

const char* kPageStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#000;background:#fff}"
    "h1{font-size:1.4em}table{border-collapse:collapse}"
    "table.list{width:100%}table.list th,table.list td{border:1px solid #999;"
    "padding:2px 6px;text-align:left;vertical-align:top}"
    "table.list thead{display:table-header-group}td.n{text-align:right}"
    "table.info th{text-align:left;padding-right:1em}"
    ".remark{white-space:pre-wrap;margin:1em 0}img.cover{max-width:40%;float:right}"
    "@media print{body{margin:0}tr{page-break-inside:avoid}}";

}  // namespace

std::string ExportName(std::string_view stored) {
    return ExportStored(stored, true);
}
std::string ExportText(std::string_view stored) {
    return ExportStored(stored, false);
}

std::string ExportPath(std::string_view stored) {
    std::string out;
    const char* begin = stored.data();
    const char* end = begin + stored.size();
    const char* start = begin;
    // Stepped by character: 0x5C is also a legal second byte of a GBK character.
    for (const char* p = begin; p < end;) {
        const size_t n = StoredCharLength(p, end);
        if (n == 1 && *p == '\\') {
            out += ExportName(std::string_view(start, static_cast<size_t>(p - start)));
            out += '\\';
            start = p + 1;
        }
        p += n;
    }
    out += ExportName(std::string_view(start, static_cast<size_t>(end - start)));
    return out;
}

std::string CsvField(std::string_view utf8) {
    if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(utf8);
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string HtmlEscape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string JsonQuote(std::string_view utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string LocalTimeText(const FILETIME& ft) {
    CalendarTime c = ToCalendar(ft, true);
    if (!c.ok) return "?";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &c.tm);
    return buf;
}

std::string UtcIsoTime(const FILETIME& ft) {
    CalendarTime c = ToCalendar(ft, false);
    if (!c.ok) return "?";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &c.tm);
    return buf;
}

CTableWriter::CTableWriter(std::ostream& out, ExportFormat format, std::string title,
                           std::vector<ExportColumn> columns, const ExportDiscInfo* disc,
                           std::string jsonArray)
    : out_(out), format_(format), columns_(std::move(columns)) {
    switch (format_) {
        case ExportFormat::Csv: {
            out_ << "\xEF\xBB\xBF";
            bool first = true;
            for (const ExportColumn& c : columns_) {
                if (c.jsonOnly) continue;
                out_ << (first ? "" : ",") << CsvField(c.title);
                first = false;
            }
            out_ << "\r\n";
            break;
        }
        case ExportFormat::Html: {
            out_ << "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
                 << "<title>" << HtmlEscape(title) << "</title>\n<style>" << kPageStyle
                 << "</style>\n</head>\n<body>\n<h1>" << HtmlEscape(title) << "</h1>\n";
            if (disc) {
                out_ << "<section class=\"disc\">\n";
                if (const char* mime = PictureMime(disc->cover))
                    out_ << "<img class=\"cover\" alt=\"封面\" src=\"data:" << mime << ";base64,"
                         << Base64(disc->cover) << "\">\n";
                out_ << "<table class=\"info\">\n<tr><th>卷标</th><td>" << HtmlEscape(disc->label)
                     << "</td></tr>\n<tr><th>容量</th><td>" << Number(disc->capacity)
                     << " 字节</td></tr>\n<tr><th>文件</th><td>" << disc->files
                     << "</td></tr>\n<tr><th>目录</th><td>" << disc->directories
                     << "</td></tr>\n</table>\n";
                if (!disc->remark.empty())
                    out_ << "<div class=\"remark\">" << HtmlEscape(disc->remark) << "</div>\n";
                out_ << "</section>\n";
            }
            out_ << "<table class=\"list\">\n<thead><tr>";
            for (const ExportColumn& c : columns_)
                if (!c.jsonOnly) out_ << "<th>" << HtmlEscape(c.title) << "</th>";
            out_ << "</tr></thead>\n<tbody>\n";
            break;
        }
        case ExportFormat::Json:
            out_ << "{";
            if (disc)
                out_ << "\"label\":" << JsonQuote(disc->label) << ",\"capacity\":" << disc->capacity
                     << ",\"files\":" << disc->files << ",\"directories\":" << disc->directories
                     << ",\"remark\":" << JsonQuote(disc->remark) << ",";
            out_ << JsonQuote(jsonArray) << ":[";
            break;
    }
}

void CTableWriter::Row(const std::vector<std::string>& cells) {
    switch (format_) {
        case ExportFormat::Csv: {
            bool first = true;
            for (size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
                if (columns_[i].jsonOnly) continue;
                out_ << (first ? "" : ",") << CsvField(cells[i]);
                first = false;
            }
            out_ << "\r\n";
            break;
        }
        case ExportFormat::Html:
            out_ << "<tr>";
            for (size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
                if (columns_[i].jsonOnly) continue;
                out_ << (columns_[i].numeric ? "<td class=\"n\">" : "<td>") << HtmlEscape(cells[i])
                     << "</td>";
            }
            out_ << "</tr>\n";
            break;
        case ExportFormat::Json: {
            out_ << (firstRow_ ? "{" : ",{");
            bool first = true;
            for (size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
                if (columns_[i].jsonKey.empty()) continue;
                out_ << (first ? "" : ",") << JsonQuote(columns_[i].jsonKey) << ":"
                     << (columns_[i].numeric ? cells[i] : JsonQuote(cells[i]));
                first = false;
            }
            out_ << "}";
            break;
        }
    }
    firstRow_ = false;
}

void CTableWriter::Finish() {
    if (finished_) return;
    finished_ = true;
    if (format_ == ExportFormat::Html)
        out_ << "</tbody>\n</table>\n</body>\n</html>\n";
    else if (format_ == ExportFormat::Json)
        out_ << "]}\n";
}

bool ExportListing(CIndexReader& reader, ExportFormat format, std::ostream& out,
                   const std::atomic<bool>* stop) {
    std::string label, remark;
    reader.GetVolumeLabel(label);
    ExportDiscInfo disc;
    disc.label = ExportText(label);
    disc.capacity = reader.GetCapacity();
    disc.files = reader.GetFileCount();
    disc.directories = reader.GetDirectoryCount();
    if (reader.ReadRemark(remark)) disc.remark = ExportText(remark);
    if (format == ExportFormat::Html) disc.cover = ReadCover(reader);
    CTableWriter table(out, format, disc.label,
                       {{"", "id", true, true},
                        {"路径", "path", false, false},
                        {"", "name", false, true},
                        {"类型", "kind", false, false},
                        {"大小", "size", true, false},
                        {"修改时间", "time", false, false},
                        {"注释", "annotation", false, false}},
                       &disc);
    const bool json = format == ExportFormat::Json;
    std::vector<std::string> cells(7);
    const bool complete = WalkIndex(
        reader,
        [&](const IndexEntry& e, int32_t id, const std::string& dirPath) {
            const std::string name = ExportName(e.Name());
            cells[0] = std::to_string(id);
            cells[1] = ExportPath(dirPath);
            cells[1] += name;
            if (e.IsDirectory()) cells[1] += '\\';
            cells[2] = name;
            cells[3] =
                json ? (e.IsDirectory() ? "dir" : "file") : (e.IsDirectory() ? "目录" : "文件");
            cells[4] = std::to_string(e.Size());
            cells[5] = json ? UtcIsoTime(e.writeTime) : LocalTimeText(e.writeTime);
            const std::string* note = reader.FindAnnotation(id);
            cells[6] = note ? ExportText(*note) : std::string();
            table.Row(cells);
            return true;
        },
        stop);
    table.Finish();
    return complete;
}

void ExportSearchHits(std::ostream& out, ExportFormat format, size_t count,
                      const std::function<ExportHit(size_t)>& hit) {
    const bool json = format == ExportFormat::Json;
    CTableWriter table(out, format, "搜索结果",
                       {{"名称", "name", false, false},
                        {"上级目录", "parent", false, false},
                        {"类型", "kind", false, false},
                        {"大小", "size", true, false},
                        {"修改时间", "time", false, false},
                        {"注释", "annotation", false, false},
                        {"索引文件", "index", false, false}},
                       nullptr, "hits");
    std::vector<std::string> cells(7);
    for (size_t i = 0; i < count; ++i) {
        const ExportHit h = hit(i);
        cells[0] = ExportName(h.name);
        cells[1] = ExportPath(h.parentPath);
        cells[2] = json ? (h.isDirectory ? "dir" : "file") : (h.isDirectory ? "目录" : "文件");
        cells[3] = std::to_string(h.size);
        cells[4] = json ? UtcIsoTime(h.writeTime) : LocalTimeText(h.writeTime);
        cells[5] = ExportText(h.annotation);
        cells[6] = std::string(h.indexPath);
        table.Row(cells);
    }
    table.Finish();
}

void ExportDuplicates(std::ostream& out, ExportFormat format, const DupeResult& result) {
    const bool json = format == ExportFormat::Json;
    CTableWriter table(out, format, "重复文件",
                       {{"组", "group", true, false},
                        {"名称", "name", false, false},
                        {"大小", "size", true, false},
                        {"份数", "copies", true, false},
                        {"浪费空间", "wasted", true, false},
                        {"光盘", "disc", false, false},
                        {"目录", "directory", false, false},
                        {"修改时间", "time", false, false},
                        {"", "index", false, true}},
                       nullptr, "copies");
    std::vector<std::string> cells(9);
    for (size_t g = 0; g < result.groups.size(); ++g) {
        const DupeGroup& group = result.groups[g];
        for (const DupeCopy& c : group.copies) {
            const DupeDisc& disc = result.discs[c.disc];
            cells[0] = std::to_string(g + 1);
            cells[1] = ExportName(c.name);
            cells[2] = std::to_string(group.size);
            cells[3] = std::to_string(group.copies.size());
            cells[4] = std::to_string(group.Wasted());
            cells[5] = ExportText(disc.label);
            cells[6] = ExportPath(c.dirPath);
            cells[7] = json ? UtcIsoTime(c.writeTime) : LocalTimeText(c.writeTime);
            cells[8] = disc.indexPath;
            table.Row(cells);
        }
    }
    table.Finish();
}

std::string VerifyItemLine(const VerifyItem& item) {
    std::string line = VerifyKindWord(item.kind);
    line += '\t';
    line += ExportPath(item.path);
    switch (item.kind) {
        case VerifyKind::ChangedSize:
            line += "\tsize " + Number(item.indexSize) + " -> " + Number(item.discSize);
            break;
        case VerifyKind::ChangedTime:
            line += "\ttime " + UtcIsoTime(item.indexTime) + " -> " + UtcIsoTime(item.discTime);
            break;
        case VerifyKind::Unreadable:
            line += "\t" + item.error;
            if (!item.isDirectory) line += " at byte " + Number(item.errorOffset);
            break;
        default:
            break;
    }
    return line;
}

std::string VerifyItemJson(const VerifyItem& item) {
    std::string s = "{\"kind\":";
    s += JsonQuote(VerifyKindWord(item.kind));
    s += ",\"path\":" + JsonQuote(ExportPath(item.path));
    s += item.isDirectory ? ",\"dir\":true" : ",\"dir\":false";
    if (item.inIndex)
        s += ",\"index\":{\"size\":" + Number(item.indexSize) +
             ",\"time\":" + JsonQuote(UtcIsoTime(item.indexTime)) + "}";
    if (item.onDisc)
        s += ",\"disc\":{\"size\":" + Number(item.discSize) +
             ",\"time\":" + JsonQuote(UtcIsoTime(item.discTime)) + "}";
    if (item.kind == VerifyKind::Unreadable)
        s += ",\"error\":" + JsonQuote(item.error) + ",\"offset\":" + Number(item.errorOffset);
    return s + "}";
}

}  // namespace orb
