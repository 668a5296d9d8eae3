// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the favourites pane, its dialogs and drop targets.
#include "favorites/pane/favorite_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/text.h"

namespace orb {

bool FavoriteMenuEnabled(int id, FavoriteTarget target) {
    switch (id) {
        case ID_FAV_ADD_CATEGORY:
        case ID_FAV_ADD_SOFTWARE:
            return target != FavoriteTarget::Software;
        case ID_FAV_EDIT_REMARK:
            return target == FavoriteTarget::Software;
        case ID_FAV_DELETE:
        case ID_FAV_RENAME:
            return target != FavoriteTarget::Root;
        case ID_FAV_EXPAND_ALL:
            return true;
        default:
            return false;
    }
}

const char* FavoriteRefusalText(FavoriteStatus status) {
    switch (status) {
        case FavoriteStatus::OutsideLibrary:
            return kFavMsgAddFailed;
        case FavoriteStatus::NameTooLong:
            return kFavMsgNameTooLong;
        case FavoriteStatus::NameEmpty:
            return kFavMsgNameEmpty;
        case FavoriteStatus::PathTooLong:
            return kFavMsgPathTooLong;
        default:
            return FavoriteStatusText(status);
    }
}

FavoriteStatus CheckAddFavoriteInput(std::string_view storedName, std::string_view storedCategory) {
    if (FavoriteStatus st = CheckFavoriteName(storedName); st != FavoriteStatus::Ok) return st;
    std::vector<std::string> names;
    // A text of nothing but separators names no category: the target stays the parent.
    if (SplitCategoryPath(storedCategory, names) == FavoriteStatus::NameTooLong)
        return FavoriteStatus::NameTooLong;
    return FavoriteStatus::Ok;
}

RenameCheck CheckFavoriteRename(std::string_view oldStored, std::string_view newStored) {
    if (newStored.size() >= kFavoriteNameSize) return RenameCheck::TooLong;
    if (newStored.empty() || newStored == oldStored) return RenameCheck::Unchanged;
    return RenameCheck::Accept;
}

bool LayoutFavoritePane(int width, int height, int treeHeight, int remarkHeight,
                        FavoritePaneLayout& out) {
    if (height < 200) return false;
    width = std::max(width, 200);
    // Boxes that have no height yet (before the first layout) share it 3 : 1.
    if (treeHeight <= 0 && remarkHeight <= 0) {
        treeHeight = 3;
        remarkHeight = 1;
    }
    treeHeight = std::max(treeHeight, 0);
    remarkHeight = std::max(remarkHeight, 0);
    const int64_t room = height - kFavSplitterHeight;
    const int64_t sum = static_cast<int64_t>(treeHeight) + remarkHeight;
    const int tH = static_cast<int>(treeHeight * room / sum);
    const int eH = static_cast<int>(remarkHeight * room / sum);
    out.tree = {0, 0, width, tH};
    out.bar = {0, tH, width, tH + kFavSplitterHeight};
    out.remark = {0, tH + kFavSplitterHeight, width, tH + kFavSplitterHeight + eH};
    return true;
}

DragScroll DragScrollBandAt(int x, int y, int width, int height, ScrollRoom room) {
    if (room.down && y >= height - kDragScrollBand) return DragScroll::LineDown;
    if (room.up && y < kDragScrollBand) return DragScroll::LineUp;
    if (room.left && x < kDragScrollBand) return DragScroll::LineLeft;
    if (room.right && x >= width - kDragScrollBand) return DragScroll::LineRight;
    return DragScroll::None;
}

bool HasTxtExtension(std::string_view hostPath) {
    if (hostPath.size() < 4) return false;
    return LowerAZCopy(hostPath.substr(hostPath.size() - 4)) == ".txt";
}

namespace {

// Length of the valid UTF-8 prefix of s; a sequence cut by the end of s is left out.
// Sets valid to false when an invalid sequence is met before the end.
size_t Utf8Prefix(std::string_view s, bool& valid) {
    valid = true;
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = 0;
        if (c < 0x80)
            n = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            n = 2;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 3;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 4;
        else {
            valid = false;
            return i;
        }
        for (size_t k = 1; k < n; ++k) {
            if (i + k >= s.size()) return i;  // cut by the end: not an error
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) {
                valid = false;
                return i;
            }
        }
        i += n;
    }
    return i;
}

}  // namespace

std::string RemarkFromFileBytes(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, std::min(bytes.size(), kRemarkFileMax + 4));
    bool valid = false;
    const size_t prefix = Utf8Prefix(head, valid);
    bool high = false;
    for (char c : head.substr(0, prefix)) high |= static_cast<unsigned char>(c) >= 0x80;
    if (valid && high) {
        size_t cut = std::min(prefix, kRemarkFileMax);
        // Back off to the start of a character when the limit falls inside one.
        while (cut > 0 && cut < head.size() &&
               (static_cast<unsigned char>(head[cut]) & 0xC0) == 0x80)
            --cut;
        // A byte order mark says the encoding outright; it is not part of the text.
        const size_t from = head.substr(0, 3) == "\xEF\xBB\xBF" ? std::min<size_t>(3, cut) : 0;
        return HostToStored(head.substr(from, cut - from));
    }
    // Code page 936 (or plain ASCII): kept as it is, cut where a character ends.
    return std::string(CutAtCharBoundary(head, kRemarkFileMax));
}

RemarkFileStatus ReadRemarkFile(const std::string& hostPath, std::string& storedRemark) {
    if (!HasTxtExtension(hostPath)) return RemarkFileStatus::NotText;
    // O_NONBLOCK: a FIFO or device named *.txt must not hang the window in open().
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return RemarkFileStatus::CannotOpen;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return RemarkFileStatus::CannotOpen;
    }
    // A few bytes past the limit show whether a character straddles it.
    std::string buf(kRemarkFileMax + 4, '\0');
    size_t got = 0;
    while (got < buf.size()) {
        const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return RemarkFileStatus::CannotOpen;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    buf.resize(got);
    storedRemark = RemarkFromFileBytes(buf);
    return RemarkFileStatus::Ok;
}

std::string FavoriteLocator(std::string_view storedPathInDisc) {
    std::string locator = "orb:\\";
    locator.append(storedPathInDisc);
    return locator;
}

std::string FavoriteEntryName(std::string_view storedPathInDisc) {
    const char* begin = storedPathInDisc.data();
    const char* end = begin + storedPathInDisc.size();
    const char* start = begin;
    for (const char* p = begin; p < end;) {
        const size_t n = StoredCharLength(p, end);
        if (n == 1 && *p == '\\') start = p + 1;
        p += n;
    }
    return std::string(start, end);
}

LocateResult LocateFavorite(const std::string& hostIndexPath, std::string_view storedPathInDisc,
                            const LocateSteps& steps) {
    if (hostIndexPath.empty() || !steps.openIndex || !steps.openIndex(hostIndexPath))
        return LocateResult::IndexGone;
    if (!steps.selectDirectory || !steps.selectDirectory(FavoriteLocator(storedPathInDisc)))
        return LocateResult::DirectoryMissing;
    if (steps.selectItem) steps.selectItem(FavoriteEntryName(storedPathInDisc));
    return LocateResult::Located;
}

}  // namespace orb
