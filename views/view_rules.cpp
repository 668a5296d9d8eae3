// SPDX-License-Identifier: GPL-3.0-or-later
// The disc views' rules: texts, row order, type names, safe paths, drawing geometry.
#include "views/view_rules.h"

#include <QApplication>
#include <QMimeData>
#include <QMimeDatabase>
#include <QStyle>
#include <QUrl>
#include <iterator>

#include "index/index_format.h"
#include "platform/files.h"
#include "platform/text.h"

namespace orb {

QString SizeText(uint64_t size) {
    // Rounded in 64 bits: adding 512 cannot overflow a real size, and a hostile one
    // near 2^64 still yields a number rather than wrapping to 0K.
    const uint64_t kib = size > UINT64_MAX - 512 ? size / 1024 : (size + 512) / 1024;
    return QStringLiteral("%1K").arg(kib);
}

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

}  // namespace

QString DateText(const FILETIME& time) {
    constexpr int64_t kDaysFrom1601To1970 = 134774;
    const uint64_t days1601 = FileTimeToU64(time) / 10000000ULL / 86400ULL;
    int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(static_cast<int64_t>(days1601) - kDaysFrom1601To1970, y, m, d);
    return QStringLiteral("%1-%2-%3").arg(y).arg(m).arg(d);
}

QString CapacityText(uint64_t c) {
    constexpr uint64_t kKi = 1024, kMi = kKi * 1024, kGi = kMi * 1024;
    if (c >= kGi) return QStringLiteral("%1 G").arg(c / kGi);
    if (c >= kMi) return QStringLiteral("%1 M").arg(c / kMi);
    if (c >= kKi) return QStringLiteral("%1 K").arg(c / kKi);
    return QStringLiteral("%1 B").arg(c);
}

QString GroupedNumber(uint64_t n) {
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(','));
    return digits;
}

QString HumanBytesText(uint64_t bytes) {
    const QString exact = GroupedNumber(bytes) + QStringLiteral(" 字节");
    if (bytes < 1024) return exact;
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    // 1023.99 MB shows as 1.00 GB rather than "1024 MB".
    while (value >= 999.995 && unit + 1 < static_cast<int>(std::size(kUnits))) {
        value /= 1024.0;
        ++unit;
    }
    const int decimals = value < 9.995 ? 2 : (value < 99.95 ? 1 : 0);
    return QStringLiteral("%1 %2（%3）")
        .arg(QString::number(value, 'f', decimals), QLatin1String(kUnits[unit]), exact);
}

std::string_view ExtensionOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

int CompareRows(const RowKey& a, const RowKey& b, int column) {
    if (column < kColName || column > kColTime) return 0;
    if (a.isDirectory != b.isDirectory) {
        const int dirFirst = a.isDirectory ? -1 : 1;
        return column == kColType ? -dirFirst : dirFirst;
    }
    switch (column) {
        case kColName:
            return CompareNatural(a.name, b.name);
        case kColSize:
            if (a.isDirectory) return 0;
            return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
        case kColType:
            if (a.isDirectory) return 0;
            return CompareNoCaseAZ(a.extension, b.extension);
        default:
            return a.time < b.time ? -1 : (a.time > b.time ? 1 : 0);
    }
}

CFileTypeCache& CFileTypeCache::Instance() {
    static CFileTypeCache cache;
    return cache;
}

FileIconKind FileIconKindFor(const QString& mimeName, const QString& genericIconName,
                             const QStringList& ancestors) {
    static const struct {
        const char* generic;
        FileIconKind kind;
    } kByGeneric[] = {
        {"text-x-generic", FileIconKind::Text},
        {"text-x-script", FileIconKind::Text},
        {"text-html", FileIconKind::Text},
        {"image-x-generic", FileIconKind::Image},
        {"audio-x-generic", FileIconKind::Audio},
        {"video-x-generic", FileIconKind::Video},
        {"package-x-generic", FileIconKind::Archive},
        {"application-x-executable", FileIconKind::Executable},
        {"x-office-document", FileIconKind::Document},
        {"x-office-spreadsheet", FileIconKind::Document},
        {"x-office-presentation", FileIconKind::Document},
        {"x-office-drawing", FileIconKind::Document},
    };
    for (const auto& g : kByGeneric)
        if (genericIconName == QLatin1String(g.generic)) return g.kind;
    const QString media = mimeName.section('/', 0, 0);
    if (media == QLatin1String("text")) return FileIconKind::Text;
    if (media == QLatin1String("image")) return FileIconKind::Image;
    if (media == QLatin1String("audio")) return FileIconKind::Audio;
    if (media == QLatin1String("video")) return FileIconKind::Video;
    if (ancestors.contains(QStringLiteral("text/plain"))) return FileIconKind::Text;
    if (ancestors.contains(QStringLiteral("application/zip"))) return FileIconKind::Archive;
    return FileIconKind::None;
}

CFileTypeCache::CFileTypeCache() {
    const QStyle* style = QApplication::style();
    const QIcon fileIcon = style ? style->standardIcon(QStyle::SP_FileIcon) : QIcon();
    m_plainFile = Insert(std::string(), FileType{QStringLiteral("文件"), fileIcon});
    // The theme's folder, else the program's own.
    m_folder = FileType{
        QStringLiteral("文件夹"),
        QIcon::fromTheme(QStringLiteral("folder"), BundledFileTypeIcon(FileIconKind::Folder))};
}

uint32_t CFileTypeCache::Insert(std::string key, FileType type) {
    const uint32_t index = static_cast<uint32_t>(m_types.size());
    m_types.push_back(std::move(type));
    m_byKey.emplace(std::move(key), index);
    return index;
}

const FileType& CFileTypeCache::Folder() {
    return m_folder;
}

uint32_t CFileTypeCache::TypeOf(std::string_view extension) {
    if (extension.empty()) return m_plainFile;
    char folded[kMaxPath];
    const size_t n = std::min(extension.size(), sizeof folded);
    LowerAZCopyTo(extension.data(), n, folded);
    const std::string_view key(folded, n);
    if (auto it = m_byKey.find(key); it != m_byKey.end()) return it->second;

    const QString hostExt = QString::fromStdString(StoredToHost(key));
    const QIcon& fileIcon = m_types[m_plainFile].icon;
    FileType type{hostExt.toUpper() + QStringLiteral(" 文件"), fileIcon};
    if (m_lookups < kMaxLookups) {
        ++m_lookups;
        static const QMimeDatabase db;
        const QMimeType mime =
            db.mimeTypeForFile(QStringLiteral("a.") + hostExt, QMimeDatabase::MatchExtension);
        if (mime.isValid() && !mime.isDefault()) {
            type.name = mime.comment();
            QIcon icon = QIcon::fromTheme(mime.iconName());
            if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
            // A bare desktop has no theme icons: the program's own by kind.
            if (icon.isNull())
                icon = BundledFileTypeIcon(
                    FileIconKindFor(mime.name(), mime.genericIconName(), mime.allAncestors()));
            if (!icon.isNull()) type.icon = icon;
        }
    }
    return Insert(std::string(key), std::move(type));
}

std::vector<std::string> SplitStoredPath(std::string_view path, std::string* rest) {
    std::vector<std::string> parts;
    const char* p = path.data();
    const char* end = p + path.size();
    const char* start = p;
    while (p < end) {
        const size_t n = StoredCharLength(p, end);
        if (n == 1 && *p == '\\') {
            parts.emplace_back(start, p);
            start = p + 1;
        }
        p += n;
    }
    if (rest) rest->assign(start, end);
    return parts;
}

bool JoinDiscPath(const std::string& driveRoot, std::string_view storedDirPath,
                  std::string_view storedName, std::string& hostPath) {
    std::string rest;
    const std::vector<std::string> parts = SplitStoredPath(storedDirPath, &rest);
    if (!rest.empty()) return false;  // a directory path ends with '\'
    std::string out = driveRoot;
    if (out.empty()) return false;
    if (out.back() != '/') out += '/';
    std::string storedRelative;
    for (const std::string& part : parts) {
        if (!IsSafePathComponent(part)) return false;
        storedRelative += part;
        storedRelative += '\\';
    }
    if (!storedName.empty()) {
        if (!IsSafePathComponent(storedName)) return false;
        storedRelative += storedName;
    }
    // A name that was not UTF-8 on the disc is stored as its raw bytes: this finds
    // the real file whichever form it has.
    const bool isDirectory = storedName.empty() && !parts.empty();
    if (isDirectory) storedRelative.pop_back();
    out += HostRelativePathOfStored(out, storedRelative);
    if (isDirectory) out += '/';
    hostPath = std::move(out);
    return true;
}

void FillFileListMime(QMimeData& mime, const std::vector<std::string>& hostPaths) {
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (const std::string& path : hostPaths) {
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
        urls << url;
        gnome += '\n';
        gnome += url.toEncoded();
    }
    mime.setUrls(urls);
    mime.setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
}

PicRect CentredPictureRect(const PicRect& r, int w, int h) {
    const int m = (r.right - r.left - w) / 2;
    const int n = (r.bottom - r.top - h) / 2;
    return {r.left + m, r.top + n, r.right - m, r.bottom - n};
}

PicRect FittedPictureRect(const PicRect& r, int w, int h) {
    if (w <= 0 || h <= 0) return r;
    const int64_t W = r.right - r.left;
    const int64_t H = r.bottom - r.top;
    const int64_t hh = W * h / w;
    if (H < hh) {
        const int64_t ww = H * w / h;
        const int margin = static_cast<int>((W - ww) / 2);
        return {r.left + margin, r.top, r.right - margin, r.bottom};
    }
    const int margin = static_cast<int>((H - hh) / 2);
    return {r.left, r.top + margin, r.right, r.bottom - margin};
}

}  // namespace orb
