// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/tree/library_tree.h"

#include <QTreeWidgetItemIterator>
#include <vector>

#include "index/index_format.h"
#include "index/index_reader.h"
#include "library/store/library_store.h"
#include "library/tree/category_name.h"
#include "platform/text.h"
#include "res/images/app_images.h"

namespace orb {

namespace {

// Every item of the tree carries its kind, images and the name on disk; the
// comparison reaches both items' kinds and labels through it.
class CLibraryItem : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 0x21;

    // storedLabel, when known already (from the walk), saves converting the label.
    CLibraryItem(std::string fileName, bool category, bool root,
                 const std::string* storedLabel = nullptr)
        : QTreeWidgetItem(kType),
          m_fileName(std::move(fileName)),
          m_image(category ? kImageFolderClosed : kImageDisc),
          m_selectedImage(category ? kImageFolderOpen : kImageDisc),
          m_root(root) {
        UpdateLabel(storedLabel);
    }

    // The label and the image are made when the view asks, for the rows it
    // shows: storing a text and an icon in each of 100,000 items cost a third
    // of the time to fill the tree, and their memory.
    QVariant data(int column, int role) const override {
        if (column == 0) {
            if (role == Qt::DisplayRole || role == Qt::EditRole)
                return QString::fromUtf8(m_label.data(), static_cast<qsizetype>(m_label.size()));
            if (role == Qt::DecorationRole) {
                const auto* tree = qobject_cast<const CLibraryTree*>(treeWidget());
                return tree ? QVariant(tree->ItemIcon(this)) : QVariant();
            }
        }
        if (column == 0 && role == Qt::CheckStateRole)
            return m_check < 0 ? QVariant() : QVariant(static_cast<int>(m_check));
        return QTreeWidgetItem::data(column, role);
    }
    // A check box's state (the scope tree's) is kept in the item too: it needs
    // no storage of its own for each item then.
    void setData(int column, int role, const QVariant& value) override {
        if (column != 0 || role != Qt::CheckStateRole) {
            QTreeWidgetItem::setData(column, role, value);
            return;
        }
        const signed char check = value.isValid() ? static_cast<signed char>(value.toInt()) : -1;
        if (check == m_check) return;
        m_check = check;
        emitDataChanged();
    }
    // Repaints the item where the view shows it (its icon follows the current item).
    void Changed() { emitDataChanged(); }

    bool operator<(const QTreeWidgetItem& other) const override {
        return CompareLibraryItems(this, &other) < 0;
    }

    bool IsRoot() const { return m_root; }
    bool IsDisc() const { return m_image == kImageDisc; }
    const std::string& FileName() const { return m_fileName; }
    const std::string& Label() const { return m_label; }
    const std::string& StoredLabel() const { return m_storedLabel; }
    int Image() const { return m_image; }
    int SelectedImage() const { return m_selectedImage; }

    void SetFileName(std::string fileName) {
        m_fileName = std::move(fileName);
        UpdateLabel(nullptr);
        emitDataChanged();
    }

private:
    void UpdateLabel(const std::string* storedLabel) {
        if (m_root)
            m_label = CLibraryTree::kRootLabel;
        else if (IsDisc())
            m_label = std::string(DiscLabelOfFileName(m_fileName));
        else
            m_label = m_fileName;
        m_storedLabel = storedLabel ? *storedLabel : HostToStored(m_label);
    }

    std::string m_fileName;  // host bytes as on disk; empty for the root
    std::string m_label;
    std::string m_storedLabel;
    int m_image;
    int m_selectedImage;
    bool m_root;
    signed char m_check = -1;  // a Qt::CheckState, or -1 for no check box
};

const CLibraryItem* AsLibraryItem(const QTreeWidgetItem* item) {
    return item && item->type() == CLibraryItem::kType ? static_cast<const CLibraryItem*>(item)
                                                       : nullptr;
}
CLibraryItem* AsLibraryItem(QTreeWidgetItem* item) {
    return item && item->type() == CLibraryItem::kType ? static_cast<CLibraryItem*>(item) : nullptr;
}

}  // namespace

int CompareLibraryItems(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2) {
    const CLibraryItem* a = AsLibraryItem(item1);
    const CLibraryItem* b = AsLibraryItem(item2);
    if (!a || !b) return 0;
    return CompareLibraryItems(!a->IsDisc(), a->StoredLabel(), !b->IsDisc(), b->StoredLabel());
}

CLibraryTree::CLibraryTree(QWidget* parent) : QTreeWidget(parent), m_images(AppImageList()) {
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(kAppImageSize, kAppImageSize));
    connect(this, &QTreeWidget::currentItemChanged, this, &CLibraryTree::OnCurrentItemChanged);
}

void CLibraryTree::SetImageList(const QList<QIcon>& images) {
    m_images = images;
    viewport()->update();
}

QIcon CLibraryTree::ItemIcon(const QTreeWidgetItem* item) const {
    const int image = item == currentItem() ? ItemSelectedImage(item) : ItemImage(item);
    return image >= 0 && image < m_images.size() ? m_images[image] : QIcon();
}

void CLibraryTree::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (CLibraryItem* item = AsLibraryItem(previous)) item->Changed();
    if (CLibraryItem* item = AsLibraryItem(current)) item->Changed();
}

void CLibraryTree::FillLibrary(const std::string& path) {
    clear();
    addTopLevelItem(new CLibraryItem(std::string(), true, true));
    QTreeWidgetItem* root = RootItem();
    if (!path.empty()) {
        m_libraryRoot = path;
        if (m_libraryRoot.back() != '/') m_libraryRoot.push_back('/');
    }
    if (!m_libraryRoot.empty()) AddDirectoryItems(root, m_libraryRoot);
    expandItem(root);
}

QTreeWidgetItem* CLibraryTree::NewItem(QTreeWidgetItem* parent, const std::string& fileName,
                                       bool category, const std::string* storedLabel) {
    auto* item = new CLibraryItem(fileName, category, false, storedLabel);
    if (parent) parent->addChild(item);
    return item;
}

void CLibraryTree::AddDirectoryItems(QTreeWidgetItem* parent, const std::string& dirPath) {
    if (!parent) return;
    // The walk yields every level already in library order, each category right
    // before its contents. The new items are built detached and handed to the
    // tree in one step, so a large library does not notify the view per item.
    QList<QTreeWidgetItem*> top;
    std::vector<QTreeWidgetItem*> parents{nullptr};
    WalkLibrary(dirPath, m_showDiscs != 0, [&](const LibraryItem& li) {
        size_t depth = static_cast<size_t>(li.depth);
        if (depth >= parents.size()) return true;
        parents.resize(depth + 1);
        QTreeWidgetItem* item = NewItem(parents[depth], li.hostName, li.isCategory, &li.label);
        if (depth == 0) top.append(item);
        if (li.isCategory) parents.push_back(item);
        return true;
    });
    parent->addChildren(top);
    SortChildItems(parent);
}

void CLibraryTree::SortChildItems(QTreeWidgetItem* parent) {
    if (parent) parent->sortChildren(0, Qt::AscendingOrder);
}

int CLibraryTree::ItemImage(const QTreeWidgetItem* item) {
    const CLibraryItem* li = AsLibraryItem(item);
    return li ? li->Image() : -1;
}

int CLibraryTree::ItemSelectedImage(const QTreeWidgetItem* item) {
    const CLibraryItem* li = AsLibraryItem(item);
    return li ? li->SelectedImage() : -1;
}

std::string CLibraryTree::ItemLabel(const QTreeWidgetItem* item) {
    const CLibraryItem* li = AsLibraryItem(item);
    return li ? li->Label() : std::string();
}

std::string CLibraryTree::ItemStoredLabel(const QTreeWidgetItem* item) {
    const CLibraryItem* li = AsLibraryItem(item);
    return li ? li->StoredLabel() : std::string();
}

std::string CLibraryTree::ItemFileName(const QTreeWidgetItem* item) {
    const CLibraryItem* li = AsLibraryItem(item);
    return li ? li->FileName() : std::string();
}

int CLibraryTree::IsCategoryItem(QTreeWidgetItem* item) const {
    return ItemImage(item) == kImageDisc ? 0 : 1;
}

std::string CLibraryTree::GetItemPath(QTreeWidgetItem* item, bool withExtension) const {
    const CLibraryItem* li = AsLibraryItem(item);
    if (!li) return std::string();
    if (li->IsRoot()) return m_libraryRoot;
    std::vector<const CLibraryItem*> chain;
    for (const CLibraryItem* at = li; at && !at->IsRoot(); at = AsLibraryItem(at->parent()))
        chain.push_back(at);
    std::string path = m_libraryRoot;
    for (size_t i = chain.size(); i-- > 1;) {
        path += chain[i]->FileName();
        path += '/';
    }
    if (li->IsDisc()) {
        path += withExtension ? li->FileName() : li->Label();
    } else {
        path += li->FileName();
        path += '/';
    }
    return path;
}

QTreeWidgetItem* CLibraryTree::FindChildItem(QTreeWidgetItem* parent,
                                             std::string_view label) const {
    if (!parent) return nullptr;
    for (int i = 0, n = parent->childCount(); i < n; ++i) {
        QTreeWidgetItem* child = parent->child(i);
        const CLibraryItem* li = AsLibraryItem(child);
        if (li && li->Label() == label) return child;
    }
    return nullptr;
}

QTreeWidgetItem* CLibraryTree::FindItemByPath(const std::string& path) const {
    QTreeWidgetItem* item = RootItem();
    if (!item || m_libraryRoot.empty() || path.size() < m_libraryRoot.size() ||
        path.compare(0, m_libraryRoot.size(), m_libraryRoot) != 0)
        return nullptr;
    std::string_view rest(path);
    rest.remove_prefix(m_libraryRoot.size());
    while (!rest.empty()) {
        size_t sep = rest.find('/');
        std::string_view segment = rest.substr(0, sep);
        rest.remove_prefix(sep == std::string_view::npos ? rest.size() : sep + 1);
        // A doubled separator names the same directory.
        if (segment.empty()) continue;
        item = FindChildItem(item, segment);
        if (!item) return nullptr;
    }
    return item;
}

int CLibraryTree::SelectItemByPath(const std::string& path) {
    if (path.empty()) return 0;
    if (QTreeWidgetItem* current = currentItem(); current && GetItemPath(current, true) == path)
        return 1;
    QTreeWidgetItem* item = FindItemByPath(path);
    if (!item) return 0;
    scrollToItem(item);
    setCurrentItem(item);
    setFocus();
    return 1;
}

QTreeWidgetItem* CLibraryTree::NextItemPreorder(QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    if (item->childCount() > 0) return item->child(0);
    for (QTreeWidgetItem* at = item; at; at = at->parent()) {
        QTreeWidgetItem* parent = at->parent();
        int index = parent ? parent->indexOfChild(at) : indexOfTopLevelItem(at);
        int count = parent ? parent->childCount() : topLevelItemCount();
        if (index >= 0 && index + 1 < count)
            return parent ? parent->child(index + 1) : topLevelItem(index + 1);
    }
    return nullptr;
}

QTreeWidgetItem* CLibraryTree::FindDiscByHeader(
    const std::function<bool(const IndexHeader&)>& match, std::string* indexPath) const {
    // The iterator walks in the same depth-first order as NextItemPreorder without
    // searching each item's position among its siblings.
    for (QTreeWidgetItemIterator it(const_cast<CLibraryTree*>(this)); *it; ++it) {
        if (IsCategoryItem(*it)) continue;
        std::string path = GetItemPath(*it, true);
        IndexHeader header;
        if (!ProbeIndexHeader(path, header) || !match(header)) continue;
        if (indexPath) *indexPath = std::move(path);
        return *it;
    }
    return nullptr;
}

int CLibraryTree::FindDiscByLabel(std::string_view storedLabel, std::string& indexPath) const {
    // A header keeps only the label's first 49 bytes.
    const std::string_view label = LabelAsInHeader(storedLabel);
    return FindDiscByHeader(
               [label](const IndexHeader& header) { return HeaderLabel(header) == label; },
               &indexPath)
               ? 1
               : 0;
}

std::string CLibraryTree::NewCategoryName(QTreeWidgetItem* parent) const {
    return orb::NewCategoryName(
        [&](std::string_view candidate) { return FindChildItem(parent, candidate) != nullptr; });
}

QTreeWidgetItem* CLibraryTree::InsertCategoryItem(QTreeWidgetItem* parent,
                                                  const std::string& dirName) {
    return parent ? NewItem(parent, dirName, true) : nullptr;
}

QTreeWidgetItem* CLibraryTree::InsertDiscItem(QTreeWidgetItem* parent,
                                              const std::string& fileName) {
    return parent ? NewItem(parent, fileName, false) : nullptr;
}

void CLibraryTree::SetItemLabel(QTreeWidgetItem* item, const std::string& label) {
    CLibraryItem* li = AsLibraryItem(item);
    if (!li || li->IsRoot()) return;
    if (li->IsDisc()) {
        const std::string& old = li->FileName();
        std::string_view extension(old);
        extension.remove_prefix(DiscLabelOfFileName(old).size());
        li->SetFileName(label + std::string(extension));
    } else {
        li->SetFileName(label);
    }
}

}  // namespace orb
