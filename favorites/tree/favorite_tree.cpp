// SPDX-License-Identifier: GPL-3.0-or-later
#include "favorites/tree/favorite_tree.h"

#include <QStringList>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"
#include "res/images/app_images.h"
#include "ui/teardown.h"

namespace orb {

namespace {

// A tree item that owns its record; deleting the item releases the record.
class CFavoriteItem : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 0x31;

    explicit CFavoriteItem(FavoriteItem record)
        : QTreeWidgetItem(kType), m_record(std::move(record)) {
        UpdateText();
    }

    FavoriteItem& Record() { return m_record; }
    const FavoriteItem& Record() const { return m_record; }
    int Image() const {
        if (m_record.IsCategory()) return kImageFavoriteCategory;
        return m_hasLocationImage ? kImageSoftware : kImageSoftwareNoLocation;
    }
    void SetLocationImage(bool on) { m_hasLocationImage = on; }
    void UpdateText() { setText(0, QString::fromStdString(StoredToHost(m_record.name))); }

private:
    FavoriteItem m_record;
    bool m_hasLocationImage = false;
};

CFavoriteItem* AsFavorite(QTreeWidgetItem* item) {
    return item && item->type() == CFavoriteItem::kType ? static_cast<CFavoriteItem*>(item)
                                                        : nullptr;
}
const CFavoriteItem* AsFavorite(const QTreeWidgetItem* item) {
    return item && item->type() == CFavoriteItem::kType ? static_cast<const CFavoriteItem*>(item)
                                                        : nullptr;
}

std::string ToStored(const QString& text) {
    return HostToStored(text.toStdString());
}

// Levels from the top: 0 for the root, 1 for a top-level item.
size_t Depth(const QTreeWidgetItem* item) {
    size_t depth = 0;
    for (; AsFavorite(item); item = item->parent()) ++depth;
    return depth;
}

// Levels of the subtree below and including the item.
size_t Height(const QTreeWidgetItem* item) {
    size_t height = 0;
    for (int i = 0; i < item->childCount(); ++i) height = std::max(height, Height(item->child(i)));
    return height + 1;
}

void CollectNodes(const QTreeWidgetItem* parent, std::vector<FavoriteNode>& out) {
    out.reserve(static_cast<size_t>(parent->childCount()));
    for (int i = 0; i < parent->childCount(); ++i) {
        const CFavoriteItem* item = AsFavorite(parent->child(i));
        if (!item) continue;
        FavoriteNode node;
        node.item = item->Record();
        CollectNodes(item, node.children);
        out.push_back(std::move(node));
    }
}

}  // namespace

CFavoriteTree::CFavoriteTree(QWidget* parent) : QTreeWidget(parent), m_images(FavoriteImageList()) {
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(kAppImageSize, kAppImageSize));
}

CFavoriteTree::~CFavoriteTree() {
    if (m_modified && !m_libraryPath.empty()) SaveFavorites(FavoritesFilePath());
}

bool CFavoriteTree::Fail(FavoriteStatus status) {
    m_lastStatus = status;
    return false;
}

QTreeWidgetItem* CFavoriteTree::Root(QTreeWidgetItem* item) const {
    return item ? item : invisibleRootItem();
}

QTreeWidgetItem* CFavoriteTree::NewItem(QTreeWidgetItem* parent, FavoriteItem record) {
    bool location = record.software && record.software->HasLocation();
    auto* item = new CFavoriteItem(std::move(record));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->SetLocationImage(location);
    int image = item->Image();
    if (image < m_images.size()) item->setIcon(0, m_images[image]);
    Root(parent)->addChild(item);
    return item;
}

std::string CFavoriteTree::FavoritesFilePath() const {
    return m_libraryPath.empty() ? std::string() : m_libraryPath + kFavoriteFileName;
}

void CFavoriteTree::AddNodes(QTreeWidgetItem* parent, std::vector<FavoriteNode>& nodes) {
    for (FavoriteNode& node : nodes) {
        QTreeWidgetItem* item = NewItem(parent, std::move(node.item));
        AddNodes(item, node.children);
    }
}

bool CFavoriteTree::LoadFavorites(const std::string& libraryPath) {
    if (m_modified && !m_libraryPath.empty()) SaveFavorites(FavoritesFilePath());
    clear();
    m_modified = 1;
    m_libraryPath = NormalizeLibraryPath(libraryPath);
    FavoriteReadResult result = ReadFavoritesFile(FavoritesFilePath());
    m_lastStatus = result.status;
    // A missing file leaves the flag set, so that the next save creates it; one
    // that exists but cannot be read is not replaced by an empty tree.
    if (result.status == FavoriteStatus::CannotOpen) {
        if (!result.missing) m_modified = 0;
        return false;
    }
    // A damaged file keeps what could be read; it is not rewritten (and the rest
    // of it lost) until the user changes something.
    m_base = result.items;
    AddNodes(invisibleRootItem(), result.items);
    m_modified = 0;
    return true;
}

bool CFavoriteTree::ReloadFromFile() {
    if (m_libraryPath.empty()) return false;
    FavoriteReadResult read = ReadFavoritesFile(FavoritesFilePath());
    if (read.status != FavoriteStatus::Ok || read.items == m_base) return false;
    std::vector<FavoriteNode> mine = ToNodes();
    std::vector<FavoriteNode> shown =
        m_modified ? MergeFavorites(m_base, mine, read.items) : read.items;
    m_base = std::move(read.items);
    if (!(shown == mine)) ShowNodes(std::move(shown));
    return true;
}

bool CFavoriteTree::SaveFavorites(const std::string& filePath) {
    m_lastSaveError.clear();
    std::vector<FavoriteNode> mine = ToNodes();
    std::vector<FavoriteNode> merged;
    if (filePath != FavoritesFilePath()) {
        // Another file (a copy elsewhere): written as shown.
        m_lastStatus = WriteFavoritesFile(filePath, mine, &m_lastSaveError);
        return m_lastStatus == FavoriteStatus::Ok;
    }
    m_lastStatus = SaveFavoritesMerged(filePath, m_base, mine, merged, &m_lastSaveError);
    if (m_lastStatus != FavoriteStatus::Ok) return false;
    m_base = merged;
    if (!(merged == mine)) ShowNodes(std::move(merged));
    return true;
}

void CFavoriteTree::ShowNodes(std::vector<FavoriteNode> nodes) {
    // Items are named by their chain of (kind, name) from the top.
    using Key = std::vector<std::pair<uint8_t, std::string>>;
    auto keyOf = [](QTreeWidgetItem* item) {
        Key key;
        for (; item; item = item->parent())
            if (const FavoriteItem* f = GetFavoriteItem(item))
                key.insert(key.begin(), {f->kind, f->name});
        return key;
    };
    const Key current = keyOf(currentItem());
    std::vector<Key> expanded;
    for (QTreeWidgetItemIterator it(this); *it; ++it)
        if ((*it)->isExpanded()) expanded.push_back(keyOf(*it));
    const bool blocked = blockSignals(true);
    clear();
    AddNodes(invisibleRootItem(), nodes);
    QTreeWidgetItem* again = nullptr;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        const Key key = keyOf(*it);
        if (std::find(expanded.begin(), expanded.end(), key) != expanded.end())
            (*it)->setExpanded(true);
        if (!again && !current.empty() && key == current) again = *it;
    }
    blockSignals(blocked);
    if (again)
        setCurrentItem(again);
    else
        emit currentItemChanged(nullptr, nullptr);
}

std::vector<FavoriteNode> CFavoriteTree::ToNodes() const {
    std::vector<FavoriteNode> nodes;
    CollectNodes(invisibleRootItem(), nodes);
    return nodes;
}

QTreeWidgetItem* CFavoriteTree::AddCategoryPath(const QString& text, QTreeWidgetItem* parent) {
    std::vector<std::string> names;
    FavoriteStatus status = SplitCategoryPath(ToStored(text), names);
    if (status != FavoriteStatus::Ok) {
        Fail(status);
        return nullptr;
    }
    if (Depth(parent) + names.size() > kFavoriteMaxDepth) {
        Fail(FavoriteStatus::TooDeep);
        return nullptr;
    }
    QTreeWidgetItem* at = Root(parent);
    for (std::string& name : names) {
        QTreeWidgetItem* found = nullptr;
        for (int i = 0; i < at->childCount() && !found; ++i) {
            const CFavoriteItem* child = AsFavorite(at->child(i));
            if (child && child->Record().IsCategory() && child->Record().name == name)
                found = at->child(i);
        }
        if (!found) {
            FavoriteItem record;
            record.name = std::move(name);
            record.kind = kFavoriteCategory;
            found = NewItem(at, std::move(record));
            m_modified = 1;
        }
        at = found;
    }
    m_lastStatus = FavoriteStatus::Ok;
    return at;
}

FavoriteStatus CFavoriteTree::CheckLocation(const FavoriteLocation& location,
                                            std::string& discPath) const {
    FavoriteStatus status = DiscPathInLibrary(m_libraryPath, location.indexPath, discPath);
    if (status != FavoriteStatus::Ok) return status;
    if (location.pathInDisc.size() > kFavoriteMaxPath) return FavoriteStatus::PathTooLong;
    return FavoriteStatus::Ok;
}

bool CFavoriteTree::AddSoftware(QTreeWidgetItem* parent, const QString& name, const QString& remark,
                                const FavoriteLocation* location, QTreeWidgetItem** added) {
    if (added) *added = nullptr;
    FavoriteItem record;
    record.name = ToStored(name);
    record.kind = kFavoriteSoftware;
    if (FavoriteStatus st = CheckFavoriteName(record.name); st != FavoriteStatus::Ok)
        return Fail(st);
    if (Depth(parent) + 1 > kFavoriteMaxDepth) return Fail(FavoriteStatus::TooDeep);
    FavoriteSoftware software;
    if (location) {
        if (FavoriteStatus st = CheckLocation(*location, software.discPath);
            st != FavoriteStatus::Ok)
            return Fail(st);
        software.pathInDisc = location->pathInDisc;
    }
    software.remark = ToStored(remark);
    record.software = std::move(software);
    QTreeWidgetItem* item = NewItem(parent, std::move(record));
    // A given location shows as one even when it names the disc's root.
    static_cast<CFavoriteItem*>(item)->SetLocationImage(location != nullptr);
    item->setIcon(0, m_images.value(ItemImage(item)));
    if (added) *added = item;
    m_modified = 1;
    m_lastStatus = FavoriteStatus::Ok;
    return true;
}

bool CFavoriteTree::SetSoftwareLocation(QTreeWidgetItem* item, const FavoriteLocation* location) {
    CFavoriteItem* fav = AsFavorite(item);
    if (!fav || fav->Record().IsCategory() || !fav->Record().software)
        return Fail(FavoriteStatus::NotSoftware);
    FavoriteSoftware& software = *fav->Record().software;
    if (location) {
        std::string discPath;
        if (FavoriteStatus st = CheckLocation(*location, discPath); st != FavoriteStatus::Ok)
            return Fail(st);
        software.discPath = std::move(discPath);
        software.pathInDisc = location->pathInDisc;
    } else {
        software.discPath.clear();
        software.pathInDisc.clear();
    }
    fav->SetLocationImage(location != nullptr);
    fav->setIcon(0, m_images.value(fav->Image()));
    m_modified = 1;
    m_lastStatus = FavoriteStatus::Ok;
    return true;
}

bool CFavoriteTree::SetSoftwareRemark(QTreeWidgetItem* item, const QString& text) {
    return SetSoftwareRemarkStored(item, ToStored(text));
}

bool CFavoriteTree::SetSoftwareRemarkStored(QTreeWidgetItem* item, std::string stored) {
    CFavoriteItem* fav = AsFavorite(item);
    if (!fav || fav->Record().IsCategory() || !fav->Record().software)
        return Fail(FavoriteStatus::NotSoftware);
    m_lastStatus = FavoriteStatus::Ok;
    std::string& remark = fav->Record().software->remark;
    if (!remark.empty() && remark == stored) return false;
    remark = std::move(stored);
    m_modified = 1;
    return true;
}

bool CFavoriteTree::RenameFavorite(QTreeWidgetItem* item, const QString& name) {
    CFavoriteItem* fav = AsFavorite(item);
    if (!fav) return Fail(FavoriteStatus::NameEmpty);
    std::string stored = ToStored(name);
    if (FavoriteStatus st = CheckFavoriteName(stored); st != FavoriteStatus::Ok) return Fail(st);
    fav->Record().name = std::move(stored);
    fav->UpdateText();
    m_modified = 1;
    m_lastStatus = FavoriteStatus::Ok;
    return true;
}

void CFavoriteTree::DeleteFavorite(QTreeWidgetItem* item) {
    if (!AsFavorite(item))
        clear();
    else
        DeleteTreeItem(item);  // releases the records of the whole subtree
    m_modified = 1;
}

QTreeWidgetItem* CFavoriteTree::MoveFavorite(QTreeWidgetItem* item, QTreeWidgetItem* newParent) {
    if (!AsFavorite(item)) {
        Fail(FavoriteStatus::BadMove);
        return nullptr;
    }
    // Moving into itself or below itself would tear the subtree off the tree.
    for (QTreeWidgetItem* at = newParent; AsFavorite(at); at = at->parent()) {
        if (at == item) {
            Fail(FavoriteStatus::BadMove);
            return nullptr;
        }
    }
    if (Depth(newParent) + Height(item) > kFavoriteMaxDepth) {
        Fail(FavoriteStatus::TooDeep);
        return nullptr;
    }
    // Qt moves the items themselves: handles and records stay the same.
    QTreeWidgetItem* oldParent = Root(item->parent());
    oldParent->takeChild(oldParent->indexOfChild(item));
    Root(newParent)->addChild(item);
    m_modified = 1;
    m_lastStatus = FavoriteStatus::Ok;
    return item;
}

std::string CFavoriteTree::GetCategoryPathStored(QTreeWidgetItem* item) const {
    std::vector<const CFavoriteItem*> chain;
    for (const CFavoriteItem* at = AsFavorite(item); at; at = AsFavorite(at->parent()))
        chain.push_back(at);
    std::string path;
    for (size_t i = chain.size(); i-- > 0;) {
        path += chain[i]->Record().name;
        path += '\\';
    }
    return path;
}

QString CFavoriteTree::GetCategoryPath(QTreeWidgetItem* item) const {
    // Each name is decoded on its own: a name may hold any character, "/" too.
    QStringList names;
    for (const CFavoriteItem* at = AsFavorite(item); at; at = AsFavorite(at->parent()))
        names.prepend(QString::fromStdString(StoredToHost(at->Record().name)));
    QString path;
    for (const QString& name : names) path += name + QLatin1Char('\\');
    return path;
}

void CFavoriteTree::startDrag(Qt::DropActions) {
    if (QTreeWidgetItem* item = currentItem()) emit beginDrag(item);
}

bool CFavoriteTree::IsCategory(QTreeWidgetItem* item) const {
    const CFavoriteItem* fav = AsFavorite(item);
    return !fav || fav->Record().IsCategory();
}

const FavoriteItem* CFavoriteTree::GetFavoriteItem(const QTreeWidgetItem* item) {
    const CFavoriteItem* fav = AsFavorite(item);
    return fav ? &fav->Record() : nullptr;
}

int CFavoriteTree::ItemImage(const QTreeWidgetItem* item) {
    const CFavoriteItem* fav = AsFavorite(item);
    return fav ? fav->Image() : -1;
}

int CFavoriteTree::MoveDiscPaths(const std::string& fromHost, const std::string& toHost) {
    auto stored = [this](std::string host, std::string& out) {
        while (!host.empty() && host.back() == '/') host.pop_back();
        return DiscPathInLibrary(m_libraryPath, host, out) == FavoriteStatus::Ok;
    };
    std::string from, to;
    if (!stored(fromHost, from) || !stored(toHost, to)) return 0;
    int moved = 0;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        CFavoriteItem* fav = AsFavorite(*it);
        if (!fav || !fav->Record().software) continue;
        std::string& discPath = fav->Record().software->discPath;
        if (MovedDiscPath(discPath, from, to, discPath)) ++moved;
    }
    if (moved) m_modified = 1;
    return moved;
}

std::string CFavoriteTree::GetIndexPath(const QTreeWidgetItem* item) const {
    const FavoriteItem* record = GetFavoriteItem(item);
    if (!record || !record->software || record->software->discPath.empty()) return std::string();
    return IndexPathOfDisc(m_libraryPath, record->software->discPath);
}

}  // namespace orb
