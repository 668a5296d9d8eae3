// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the disc views as plain functions: size, date and capacity texts,
// the file list's row order, extension and type-name lookup, joining index names
// into host paths, the clipboard's file list and the cover's drawing geometry.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"
#include "res/filetypes/filetype_icons.h"

class QMimeData;
class QUrl;

namespace orb {

// --- texts ---

// The size column: "%dK" of the size rounded to the nearest KiB, over the whole
// 64-bit size (a 4.7 GB file is not shown as its size modulo 4 GiB).
QString SizeText(uint64_t size);
// The modification column: "year-month-day" of the stored time, no time-zone
// conversion, no leading zeros.
QString DateText(const FILETIME& time);
// The information panel's capacity: "%d G", "%d M", "%d K" or "%d B", truncated.
QString CapacityText(uint64_t capacity);
// A byte count for people: three significant digits in binary units with the exact
// count beside it, "4.38 GB（4,700,372,992 字节）"; below 1 KB only "512 字节".
QString HumanBytesText(uint64_t bytes);
// A count with thousands separators: 30000 -> "30,000".
QString GroupedNumber(uint64_t n);

// --- row order ---

// What the list's sort needs of one row.
struct RowKey {
    bool isDirectory = false;
    std::string_view name;       // stored bytes
    std::string_view extension;  // stored bytes, see ExtensionOf
    uint64_t size = 0;
    uint64_t time = 0;  // FILETIME as one unsigned number
};

// The text after the last '.' that is not the name's first byte; empty when the
// name has no such dot. Byte-wise: '.' (0x2E) is never a trailing byte.
std::string_view ExtensionOf(std::string_view storedName);

enum FileListColumn { kColName = 0, kColSize = 1, kColType = 2, kColTime = 3, kColCount = 4 };

// Compares two rows for a column before the direction is applied: <0, 0, >0.
// Name, size and time put directories first, type puts files first; any other
// column calls everything equal.
int CompareRows(const RowKey& a, const RowKey& b, int column);

// --- type names and icons, by file name only ---

// Which bundled icon stands for a MIME type when the icon theme has none: by its
// generic icon name, else its media type, else a text or zip ancestor. None for
// anything else (the plain file icon).
FileIconKind FileIconKindFor(const QString& mimeName, const QString& genericIconName,
                             const QStringList& ancestors);

// One type of the cache: the shown name and the icon.
struct FileType {
    QString name;
    QIcon icon;
};

// Program-wide cache keyed by the lower-cased extension. A name without an
// extension gets the plain "文件" type; distinct extensions beyond a bound share a
// type made from the extension alone, so a hostile index cannot make the lookup
// run for ever. Needs a QGuiApplication for the icons.
class CFileTypeCache {
public:
    static CFileTypeCache& Instance();
    // Index of the type of a file with this stored extension.
    uint32_t TypeOf(std::string_view storedExtension);
    const FileType& Type(uint32_t index) const { return m_types[index]; }
    static constexpr uint32_t kMaxLookups = 4096;
    // The type of a directory: "文件夹" with the style's folder icon.
    const FileType& Folder();

private:
    CFileTypeCache();
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    uint32_t Insert(std::string key, FileType type);
    std::vector<FileType> m_types;
    std::unordered_map<std::string, uint32_t, KeyHash, std::equal_to<>> m_byKey;
    uint32_t m_lookups = 0;
    uint32_t m_plainFile = 0;
    FileType m_folder;
};

// --- paths on the disc ---

// Splits a stored directory path ("setup\tools\") into its components, respecting
// double-byte characters whose trailing byte is 0x5C. Text after the last '\' is
// returned in rest (the caller decides what it means).
std::vector<std::string> SplitStoredPath(std::string_view storedPath, std::string* rest = nullptr);

// Joins the drive root, the stored directory path and an optional stored name into
// a host path. False (and hostPath untouched) when a component is not one safe path
// component: a damaged or hostile index must not lead outside the disc. A name kept
// as raw bytes on the disc is found by looking there (names are decoded otherwise).
bool JoinDiscPath(const std::string& driveRoot, std::string_view storedDirPath,
                  std::string_view storedName, std::string& hostPath);

// The clipboard and drag file list: text/uri-list and x-special/gnome-copied-files
// ("copy" then one URL per line) for the given host paths.
void FillFileListMime(QMimeData& mime, const std::vector<std::string>& hostPaths);

// --- cover drawing ---

struct PicRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const PicRect&) const = default;
};
// Centred at natural size (w, h) in r: may overflow r evenly.
PicRect CentredPictureRect(const PicRect& r, int w, int h);
// Fitted into r keeping the aspect ratio of (w, h); r itself when w or h is not
// positive.
PicRect FittedPictureRect(const PicRect& r, int w, int h);

}  // namespace orb
