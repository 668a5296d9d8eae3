// SPDX-License-Identifier: GPL-3.0-or-later
// The directory tree of the open index, read one level at a time.
#include "views/dir_view.h"

#include <QHeaderView>
#include <algorithm>

#include "index/doc/orb_doc.h"
#include "platform/text.h"
#include "res/images/app_images.h"
#include "shell/orb_shell.h"
#include "views/orb_view.h"
#include "views/remark_view.h"
#include "views/view_rules.h"

namespace orb {

namespace {

// A tree item with the copy of its directory's entry (none for the disc item) and
// whether its level was read.
class CDirItem : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    CDirItem() : QTreeWidgetItem(kType) {}
    explicit CDirItem(const IndexEntry& e) : QTreeWidgetItem(kType), entry(e), isDisc(false) {}
    IndexEntry entry;
    bool isDisc = true;
    bool filled = false;
};

CDirItem* AsDirItem(QTreeWidgetItem* item) {
    return item && item->type() == CDirItem::kType ? static_cast<CDirItem*>(item) : nullptr;
}
const CDirItem* AsDirItem(const QTreeWidgetItem* item) {
    return item && item->type() == CDirItem::kType ? static_cast<const CDirItem*>(item) : nullptr;
}

QIcon FolderIcon() {
    // Closed folder normally, the open folder while selected.
    static const QIcon icon = [] {
        const QList<QIcon> images = AppImageList();
        QIcon folder;
        const QSize size(kAppImageSize, kAppImageSize);
        folder.addPixmap(images.value(kImageFolderClosed).pixmap(size), QIcon::Normal);
        folder.addPixmap(images.value(kImageFolderOpen).pixmap(size), QIcon::Selected);
        return folder;
    }();
    return icon;
}

}  // namespace

CCDDirView::CCDDirView(COrbDoc& doc, IOrbShell& shell, QWidget* parent)
    : QTreeWidget(parent), m_doc(doc), m_shell(shell) {
    setObjectName(QStringLiteral("dirView"));
    setAccessibleName(QStringLiteral("目录树"));
    setColumnCount(1);
    header()->hide();
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setIconSize(QSize(kAppImageSize, kAppImageSize));
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeWidget::itemExpanded, this, &CCDDirView::FillChildren);
    connect(this, &QTreeWidget::currentItemChanged, this, &CCDDirView::OnSelectionChanged);
    connect(&m_doc, &COrbDoc::updateAllViews, this, &CCDDirView::OnUpdate);
}

CCDDirView::~CCDDirView() {
    // Deleting items changes the current item; the views it would tell may be gone.
    disconnect(this, &QTreeWidget::currentItemChanged, this, &CCDDirView::OnSelectionChanged);
    clear();
}

QTreeWidgetItem* CCDDirView::RootItem() const {
    return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
}

const IndexEntry* CCDDirView::EntryOf(const QTreeWidgetItem* item) const {
    const CDirItem* dir = AsDirItem(item);
    return dir && !dir->isDisc ? &dir->entry : nullptr;
}

void CCDDirView::OnUpdate() {
    {
        // Rebuilding must not list every directory it passes on the way.
        const QSignalBlocker block(this);
        clear();
    }
    if (COrbView* list = m_shell.FileView()) list->Clear();
    if (CRemarkView* remark = m_shell.RemarkView()) remark->ClearAnnotation();
    if (!m_doc.Index().IsOpen()) return;

    std::string label;
    m_doc.Index().GetVolumeLabel(label);
    auto* root = new CDirItem();
    root->setText(0, QString::fromStdString(StoredToHost(label)));
    root->setIcon(0, AppImageList().value(kImageDisc));
    addTopLevelItem(root);
    FillChildren(root);
    root->setExpanded(true);
    setCurrentItem(root);
}

QTreeWidgetItem* CCDDirView::MakeDirectoryItem(const IndexEntry& entry) {
    auto* item = new CDirItem(entry);
    item->setText(0, QString::fromStdString(StoredToHost(entry.Name())));
    item->setIcon(0, FolderIcon());
    const bool hasSub = m_doc.Index().HasSubdirectory(entry) != 0;
    item->setChildIndicatorPolicy(hasSub ? QTreeWidgetItem::ShowIndicator
                                         : QTreeWidgetItem::DontShowIndicator);
    return item;
}

void CCDDirView::FillChildren(QTreeWidgetItem* item) {
    CDirItem* dir = AsDirItem(item);
    if (!dir || dir->filled || item->childCount() > 0) return;
    dir->filled = true;
    CIndexReader& reader = m_doc.Index();
    if (!reader.IsOpen()) return;
    QList<QTreeWidgetItem*> children;
    IndexEntry e;
    const IndexEntry* parent = dir->isDisc ? nullptr : &dir->entry;
    if (reader.ReadFirstEntry(parent, e)) {
        do {
            if (e.IsDirectory()) children << MakeDirectoryItem(e);
        } while (reader.ReadNextEntry(e, e));
    }
    // Names in the order people read them, as the file list shows them.
    std::stable_sort(
        children.begin(), children.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
            return CompareNatural(AsDirItem(a)->entry.Name(), AsDirItem(b)->entry.Name()) < 0;
        });
    // One insertion for the whole level keeps a wide directory cheap.
    item->addChildren(children);
    if (children.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool CCDDirView::HasSubdirectory(QTreeWidgetItem* item) const {
    const CDirItem* dir = AsDirItem(item);
    if (!dir) return false;
    if (dir->filled) return item->childCount() > 0;
    if (dir->isDisc) return false;
    return item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

std::string CCDDirView::GetDirectoryPath(const QTreeWidgetItem* item) const {
    std::string path;
    for (const CDirItem* dir = AsDirItem(item); dir && !dir->isDisc;
         dir = AsDirItem(dir->parent())) {
        std::string part(dir->entry.Name());
        part += '\\';
        path.insert(0, part);
    }
    return path;
}

QTreeWidgetItem* CCDDirView::FindChildByName(QTreeWidgetItem* parent,
                                             std::string_view storedName) const {
    if (!parent) return nullptr;
    for (int i = 0; i < parent->childCount(); ++i) {
        const CDirItem* child = AsDirItem(parent->child(i));
        if (child && child->entry.Name() == storedName) return parent->child(i);
    }
    return nullptr;
}

int CCDDirView::SelectDirectoryByPath(const std::string& storedPath) {
    QTreeWidgetItem* current = RootItem();
    if (!current) return 0;
    // ':' (0x3A) is never a trailing byte, so the first ":\" is a real one.
    const size_t colon = storedPath.find(":\\");
    if (colon == std::string::npos) return 0;
    const std::vector<std::string> parts =
        SplitStoredPath(std::string_view(storedPath).substr(colon + 2));
    for (const std::string& part : parts) {
        FillChildren(current);
        current->setExpanded(true);
        current = FindChildByName(current, part);
        if (!current) return 0;
    }
    scrollToItem(current);
    setCurrentItem(current);
    return 1;
}

int CCDDirView::SelectChildDirectory(std::string_view storedName) {
    QTreeWidgetItem* current = currentItem();
    if (!current) return 0;
    FillChildren(current);
    current->setExpanded(true);
    QTreeWidgetItem* child = FindChildByName(current, storedName);
    if (!child) return 0;
    FillChildren(child);
    child->setExpanded(true);
    scrollToItem(child);
    setCurrentItem(child);
    return 1;
}

void CCDDirView::OnSelectionChanged() {
    QTreeWidgetItem* item = currentItem();
    COrbView* list = m_shell.FileView();
    if (!item || !list) return;
    list->ShowDirectory(GetDirectoryPath(item), EntryOf(item));
}

}  // namespace orb
