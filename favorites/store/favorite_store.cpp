// SPDX-License-Identifier: GPL-3.0-or-later
#include "favorites/store/favorite_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/le_bytes.h"
#include "platform/lock_file.h"
#include "platform/text.h"

namespace orb {

const char* FavoriteStatusText(FavoriteStatus status) {
    switch (status) {
        case FavoriteStatus::Ok:
            return "成功";
        case FavoriteStatus::CannotOpen:
            return "收藏夹文件无法打开";
        case FavoriteStatus::NotFavorites:
            return "收藏夹文件格式不对";
        case FavoriteStatus::Damaged:
            return "收藏夹文件已损坏，只读出了损坏处之前的项目";
        case FavoriteStatus::CannotWrite:
            return "收藏夹文件无法写入";
        case FavoriteStatus::NameTooLong:
            return "名称太长，最多99个字节";
        case FavoriteStatus::NameEmpty:
            return "名称不能为空";
        case FavoriteStatus::PathTooLong:
            return "路径太长，最多255个字节";
        case FavoriteStatus::RemarkTooLong:
            return "备注太长";
        case FavoriteStatus::TooDeep:
            return "分类层次太深";
        case FavoriteStatus::OutsideLibrary:
            return "光盘映像文件不在光盘库中";
        case FavoriteStatus::NotSoftware:
            return "不是软件项目";
        case FavoriteStatus::BadMove:
            return "不能移到自身或其下级分类中";
    }
    return "";
}

namespace {

constexpr size_t kMaxRemark = static_cast<size_t>(std::numeric_limits<int32_t>::max());

void PutShort(std::string& out, const std::string& s) {
    out.push_back(static_cast<char>(s.size()));
    out.append(s);
}

FavoriteStatus EncodeList(const std::vector<FavoriteNode>& list, size_t depth, std::string& out) {
    if (depth > kFavoriteMaxDepth) return FavoriteStatus::TooDeep;
    for (const FavoriteNode& node : list) {
        const FavoriteItem& item = node.item;
        if (item.name.size() > 255) return FavoriteStatus::NameTooLong;
        out.push_back(static_cast<char>(FAV_ITEM));
        PutShort(out, item.name);
        // A software record without its part is written as a category so that the
        // file never holds a software item that cannot be read back as one.
        bool software = !item.IsCategory() && item.software.has_value();
        out.push_back(static_cast<char>(software ? kFavoriteSoftware : kFavoriteCategory));
        if (software) {
            const FavoriteSoftware& sw = *item.software;
            if (sw.discPath.size() > kFavoriteMaxPath || sw.pathInDisc.size() > kFavoriteMaxPath)
                return FavoriteStatus::PathTooLong;
            if (sw.remark.size() > kMaxRemark) return FavoriteStatus::RemarkTooLong;
            PutShort(out, sw.discPath);
            PutShort(out, sw.pathInDisc);
            unsigned char n[4];
            PutLE32(n, static_cast<uint32_t>(sw.remark.size()));
            out.append(reinterpret_cast<const char*>(n), sizeof n);
            out.append(sw.remark);
        }
        if (!node.children.empty()) {
            out.push_back(static_cast<char>(FAV_DOWN));
            FavoriteStatus st = EncodeList(node.children, depth + 1, out);
            if (st != FavoriteStatus::Ok) return st;
            out.push_back(static_cast<char>(FAV_UP));
        }
    }
    return FavoriteStatus::Ok;
}

// A bounds-checked cursor over the file's bytes.
class Cursor {
public:
    explicit Cursor(std::string_view data) : data_(data) {}
    size_t pos() const { return pos_; }
    bool AtEnd() const { return pos_ >= data_.size(); }
    bool Byte(uint8_t& b) {
        if (pos_ >= data_.size()) return false;
        b = static_cast<uint8_t>(data_[pos_++]);
        return true;
    }
    bool Take(size_t n, std::string& out) {
        if (n > data_.size() - pos_) return false;
        out.assign(data_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    bool Short(std::string& out) {
        uint8_t n;
        return Byte(n) && Take(n, out);
    }
    bool U32(uint32_t& v) {
        if (data_.size() - pos_ < 4) return false;
        v = GetLE32(reinterpret_cast<const unsigned char*>(data_.data() + pos_));
        pos_ += 4;
        return true;
    }

private:
    std::string_view data_;
    size_t pos_ = 0;
};

bool ReadItem(Cursor& in, FavoriteItem& item) {
    uint8_t kind;
    if (!in.Short(item.name) || !in.Byte(kind)) return false;
    // Any kind byte but 0 reads as a category.
    item.kind = kind == kFavoriteSoftware ? kFavoriteSoftware : kFavoriteCategory;
    if (item.kind == kFavoriteCategory) return true;
    FavoriteSoftware sw;
    uint32_t remarkLength;
    if (!in.Short(sw.discPath) || !in.Short(sw.pathInDisc) || !in.U32(remarkLength)) return false;
    // The length is signed in the record; a negative one cannot be honoured.
    if (remarkLength > kMaxRemark || !in.Take(remarkLength, sw.remark)) return false;
    item.software = std::move(sw);
    return true;
}

}  // namespace

FavoriteStatus EncodeFavorites(const std::vector<FavoriteNode>& items, std::string& out) {
    std::string data;
    data.push_back(static_cast<char>(FAV_BEGIN));
    FavoriteStatus st = EncodeList(items, 1, data);
    if (st != FavoriteStatus::Ok) return st;
    data.push_back(static_cast<char>(FAV_END));
    out = std::move(data);
    return FavoriteStatus::Ok;
}

FavoriteReadResult DecodeFavorites(std::string_view data) {
    FavoriteReadResult result;
    Cursor in(data);
    uint8_t b;
    if (!in.Byte(b) || b != FAV_BEGIN) {
        result.status = FavoriteStatus::NotFavorites;
        return result;
    }
    // The current parent and the last item created, each as the path of child
    // indexes from the top level. Items are only ever appended, which is where the
    // writer's insertion point always leads, so the paths stay valid.
    std::vector<size_t> parentPath;
    std::vector<size_t> lastCreated;
    bool haveLast = false;
    auto listAt = [&](const std::vector<size_t>& path) {
        std::vector<FavoriteNode>* list = &result.items;
        for (size_t index : path) list = &(*list)[index].children;
        return list;
    };
    auto damaged = [&](size_t at) {
        result.status = FavoriteStatus::Damaged;
        result.damageOffset = at;
        return result;
    };
    for (;;) {
        size_t at = in.pos();
        if (!in.Byte(b)) return damaged(at);
        if (b == FAV_END) break;
        if (b == FAV_ITEM) {
            FavoriteNode node;
            if (!ReadItem(in, node.item)) return damaged(at);
            std::vector<FavoriteNode>* list = listAt(parentPath);
            list->push_back(std::move(node));
            lastCreated = parentPath;
            lastCreated.push_back(list->size() - 1);
            haveLast = true;
        } else if (b == FAV_DOWN) {
            if (!haveLast) continue;  // nothing to descend into
            if (lastCreated.size() >= kFavoriteMaxDepth) return damaged(at);
            parentPath = lastCreated;
        } else if (b == FAV_UP) {
            if (!parentPath.empty()) parentPath.pop_back();
        }
        // Any other byte is ignored.
    }
    return result;
}

FavoriteReadResult ReadFavoritesFile(const std::string& path) {
    std::string data;
    // A favourites file of a gigabyte is not one; refusing it keeps memory bounded.
    if (!ReadWholeFile(path, data, size_t{1} << 30)) {
        FavoriteReadResult result;
        result.status = FavoriteStatus::CannotOpen;
        // Only a file that is not there is missing; one that is there but cannot
        // be read (no permission, a FIFO, too large) must not be replaced.
        struct stat st {};
        result.missing = ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
        return result;
    }
    return DecodeFavorites(data);
}

FavoriteStatus WriteFavoritesFile(const std::string& path, const std::vector<FavoriteNode>& items,
                                  std::string* error) {
    std::string data;
    FavoriteStatus st = EncodeFavorites(items, data);
    if (st != FavoriteStatus::Ok) return st;
    if (!ReplaceFileAtomically(path, data, true, error)) return FavoriteStatus::CannotWrite;
    return FavoriteStatus::Ok;
}

namespace {
bool SameSoftware(const std::optional<FavoriteSoftware>& a,
                  const std::optional<FavoriteSoftware>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a ||
           (a->discPath == b->discPath && a->pathInDisc == b->pathInDisc && a->remark == b->remark);
}

bool SameKey(const FavoriteNode& a, const FavoriteNode& b) {
    return a.item.kind == b.item.kind && a.item.name == b.item.name;
}

// Position of the n-th item of list with node's key (n counted from 0), or -1.
int FindNth(const std::vector<FavoriteNode>& list, const FavoriteNode& node, int n) {
    for (size_t i = 0; i < list.size(); ++i)
        if (SameKey(list[i], node) && n-- == 0) return static_cast<int>(i);
    return -1;
}

// Which occurrence of its key the item at index i of list is.
int Occurrence(const std::vector<FavoriteNode>& list, size_t i) {
    int n = 0;
    for (size_t k = 0; k < i; ++k) n += SameKey(list[k], list[i]);
    return n;
}

void MergeLevel(const std::vector<FavoriteNode>& base, const std::vector<FavoriteNode>& mine,
                const std::vector<FavoriteNode>& theirs, std::vector<FavoriteNode>& out,
                size_t depth) {
    // Start from theirs, marking items removed here.
    std::vector<bool> keep(theirs.size(), true);
    std::vector<const FavoriteNode*> mineOf(theirs.size(), nullptr);
    std::vector<const FavoriteNode*> baseOf(theirs.size(), nullptr);
    for (size_t i = 0; i < base.size(); ++i) {
        const int n = Occurrence(base, i);
        const int t = FindNth(theirs, base[i], n);
        if (t < 0) continue;  // removed there too
        const int m = FindNth(mine, base[i], n);
        if (m < 0)
            keep[static_cast<size_t>(t)] = false;  // removed here
        else {
            mineOf[static_cast<size_t>(t)] = &mine[static_cast<size_t>(m)];
            baseOf[static_cast<size_t>(t)] = &base[i];
        }
    }
    for (size_t t = 0; t < theirs.size(); ++t) {
        if (!keep[t]) continue;
        FavoriteNode node;
        if (mineOf[t] && depth < kFavoriteMaxDepth) {
            const FavoriteNode& b = *baseOf[t];
            const FavoriteNode& m = *mineOf[t];
            node.item = SameSoftware(m.item.software, b.item.software) ? theirs[t].item : m.item;
            MergeLevel(b.children, m.children, theirs[t].children, node.children, depth + 1);
        } else {
            node = theirs[t];
        }
        out.push_back(std::move(node));
    }
    // Items added here: not in base under that occurrence.
    for (size_t i = 0; i < mine.size(); ++i) {
        const int n = Occurrence(mine, i);
        if (FindNth(base, mine[i], n) >= 0) continue;
        const int t = FindNth(out, mine[i], 0);
        if (t >= 0 && mine[i].item.IsCategory() && depth < kFavoriteMaxDepth) {
            // The same category made there too: its contents join.
            std::vector<FavoriteNode> joined;
            MergeLevel({}, mine[i].children, out[static_cast<size_t>(t)].children, joined,
                       depth + 1);
            out[static_cast<size_t>(t)].children = std::move(joined);
        } else if (t < 0 || !(out[static_cast<size_t>(t)] == mine[i])) {
            out.push_back(mine[i]);
        }
    }
}
}  // namespace

bool operator==(const FavoriteNode& a, const FavoriteNode& b) {
    return SameKey(a, b) && SameSoftware(a.item.software, b.item.software) &&
           a.children == b.children;
}

std::vector<FavoriteNode> MergeFavorites(const std::vector<FavoriteNode>& base,
                                         const std::vector<FavoriteNode>& mine,
                                         const std::vector<FavoriteNode>& theirs) {
    std::vector<FavoriteNode> out;
    MergeLevel(base, mine, theirs, out, 0);
    return out;
}

FavoriteStatus SaveFavoritesMerged(const std::string& path, const std::vector<FavoriteNode>& base,
                                   const std::vector<FavoriteNode>& mine,
                                   std::vector<FavoriteNode>& merged, std::string* error) {
    CLockFile lock(LockPathFor(path));
    if (!lock.Lock()) {
        if (error) *error = ErrorText(errno);
        return FavoriteStatus::CannotWrite;
    }
    FavoriteReadResult now = ReadFavoritesFile(path);
    if (now.status == FavoriteStatus::CannotOpen && !now.missing) return now.status;
    // A damaged file contributes what could be read, as a load would.
    merged = now.items == base ? mine : MergeFavorites(base, mine, now.items);
    return WriteFavoritesFile(path, merged, error);
}

std::string NormalizeLibraryPath(std::string_view libraryPath) {
    std::string path(libraryPath);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    return path;
}

namespace {

// True when a host path relative to the library stays inside it.
bool StaysInside(std::string_view relative) {
    if (relative.empty() || relative.front() == '/') return false;
    if (relative.find('\0') != std::string_view::npos) return false;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        std::string_view part = relative.substr(start, end - start);
        if (part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

FavoriteStatus DiscPathInLibrary(std::string_view libraryPath, std::string_view indexPath,
                                 std::string& discPath) {
    std::string library = NormalizeLibraryPath(libraryPath);
    if (library.empty() || indexPath.size() <= library.size() ||
        indexPath.compare(0, library.size(), library) != 0)
        return FavoriteStatus::OutsideLibrary;
    std::string_view relative = indexPath.substr(library.size());
    if (!StaysInside(relative)) return FavoriteStatus::OutsideLibrary;
    std::string stored = HostPathToStored(relative);
    if (stored.size() > kFavoriteMaxPath) return FavoriteStatus::PathTooLong;
    discPath = std::move(stored);
    return FavoriteStatus::Ok;
}

std::string IndexPathOfDisc(std::string_view libraryPath, std::string_view discPath) {
    // The stored path may hold a file name's raw bytes: find the file it came from.
    std::string relative = HostRelativePathOfStored(NormalizeLibraryPath(libraryPath), discPath);
    if (!StaysInside(relative)) return {};
    return NormalizeLibraryPath(libraryPath) + relative;
}

bool MovedDiscPath(std::string_view discPath, std::string_view from, std::string_view to,
                   std::string& out) {
    if (from.empty() || discPath.size() < from.size() ||
        discPath.compare(0, from.size(), from) != 0)
        return false;
    // from ends on a character boundary, so a "\" right after it is a separator.
    if (discPath.size() > from.size() && discPath[from.size()] != '\\') return false;
    std::string moved = std::string(to) + std::string(discPath.substr(from.size()));
    if (moved.size() > kFavoriteMaxPath) return false;
    out = std::move(moved);
    return true;
}

FavoriteStatus CheckFavoriteName(std::string_view storedName) {
    if (storedName.empty()) return FavoriteStatus::NameEmpty;
    if (storedName.size() > kFavoriteMaxName) return FavoriteStatus::NameTooLong;
    return FavoriteStatus::Ok;
}

FavoriteStatus SplitCategoryPath(std::string_view text, std::vector<std::string>& names) {
    names.clear();
    const char* p = text.data();
    const char* end = p + text.size();
    std::string current;
    auto flush = [&]() {
        if (!current.empty()) names.push_back(std::move(current));
        current.clear();
    };
    while (p < end) {
        // "\" may be the trailing byte of a double-byte character: walk by character.
        size_t n = StoredCharLength(p, end);
        if (n == 1 && *p == '\\')
            flush();
        else
            current.append(p, n);
        p += n;
    }
    flush();
    if (names.empty()) return FavoriteStatus::NameEmpty;
    for (const std::string& name : names)
        if (name.size() > kFavoriteMaxName) return FavoriteStatus::NameTooLong;
    return FavoriteStatus::Ok;
}

}  // namespace orb
