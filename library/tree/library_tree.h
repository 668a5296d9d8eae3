// SPDX-License-Identifier: GPL-3.0-or-later
// The tree control that mirrors the disc library directory: a root item, the
// categories (directories) and the discs (".orb" files) below it, in library order.
// An item's QTreeWidgetItem* is its handle. Paths are host paths; a category's path
// ends with '/', the library root always does.
#pragma once

#include <QIcon>
#include <QList>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <string_view>

#include "index/index_format.h"

namespace orb {

class CLibraryTree : public QTreeWidget {
    Q_OBJECT

public:
    // Fixed label of the root item, whatever the directory is called.
    static constexpr const char* kRootLabel = "Kelvane光盘库";

    explicit CLibraryTree(QWidget* parent = nullptr);

    // 1: index files become disc items (the default); 0: only categories.
    void SetShowDiscs(int show) { m_showDiscs = show; }
    int GetShowDiscs() const { return m_showDiscs; }

    // The image list the items index (0 disc, 1 closed folder, 2 open folder); the
    // application's list is attached by default.
    void SetImageList(const QList<QIcon>& images);

    // Rebuilds the whole tree; an empty path rebuilds from the current library root.
    void FillLibrary(const std::string& path);
    // Inserts the categories and discs of a directory under parent, recursively,
    // and sorts the parent's children.
    void AddDirectoryItems(QTreeWidgetItem* parent, const std::string& dirPath);
    // Sorts one level of children by CompareLibraryItems.
    void SortChildItems(QTreeWidgetItem* parent);

    // The item's host path: the library root for the root item, a category's path
    // ending with '/', a disc's index path with its extension as on disk when
    // withExtension is set, else without it.
    std::string GetItemPath(QTreeWidgetItem* item, bool withExtension) const;
    // 1 for the root and categories, 0 for discs.
    int IsCategoryItem(QTreeWidgetItem* item) const;
    // The first child whose label equals the host text exactly (case-sensitive).
    QTreeWidgetItem* FindChildItem(QTreeWidgetItem* parent, std::string_view label) const;
    // The item for a host path: the root for the library root, a category for its
    // path with or without the final '/', a disc for its path without ".orb".
    QTreeWidgetItem* FindItemByPath(const std::string& path) const;
    // 1 when the item was found and is now the selected item, else 0.
    int SelectItemByPath(const std::string& path);
    // The next item of a depth-first walk of the whole tree, or null after the last.
    QTreeWidgetItem* NextItemPreorder(QTreeWidgetItem* item) const;
    // 1 and the index path (with extension) of the first disc in tree order whose
    // index header carries the volume label (stored text, compared byte for byte).
    int FindDiscByLabel(std::string_view storedLabel, std::string& indexPath) const;
    // The first disc in tree order whose index header satisfies match; reads only
    // headers. indexPath (when given) receives its index path.
    QTreeWidgetItem* FindDiscByHeader(const std::function<bool(const IndexHeader&)>& match,
                                      std::string* indexPath = nullptr) const;
    const std::string& GetLibraryRoot() const { return m_libraryRoot; }

    // The label for a new category under parent: 新建光盘库, 新建光盘库(1), ...
    // Only the tree is consulted.
    std::string NewCategoryName(QTreeWidgetItem* parent) const;

    // The root item, or null before the first FillLibrary.
    QTreeWidgetItem* RootItem() const { return topLevelItem(0); }

    // Items for the library's own changes, appended under parent (not sorted):
    // a category for a directory name, a disc for an index file name.
    QTreeWidgetItem* InsertCategoryItem(QTreeWidgetItem* parent, const std::string& dirName);
    QTreeWidgetItem* InsertDiscItem(QTreeWidgetItem* parent, const std::string& fileName);
    // Gives an item a new label (host text); a disc keeps its file's extension.
    void SetItemLabel(QTreeWidgetItem* item, const std::string& label);

    // The icon the item shows: its selected image while it is the current item.
    QIcon ItemIcon(const QTreeWidgetItem* item) const;
    // The item's image and selected image in the image list.
    static int ItemImage(const QTreeWidgetItem* item);
    static int ItemSelectedImage(const QTreeWidgetItem* item);
    // The label as host text and as stored text; the name on disk (a disc's file
    // name with its extension).
    static std::string ItemLabel(const QTreeWidgetItem* item);
    static std::string ItemStoredLabel(const QTreeWidgetItem* item);
    static std::string ItemFileName(const QTreeWidgetItem* item);

private:
    QTreeWidgetItem* NewItem(QTreeWidgetItem* parent, const std::string& fileName, bool category,
                             const std::string* storedLabel = nullptr);
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);

    int m_showDiscs = 1;
    std::string m_libraryRoot;
    QList<QIcon> m_images;
};

// The library order of two items of one tree: categories first, then the labels
// with A-Z folded, as unsigned bytes.
int CompareLibraryItems(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2);

}  // namespace orb
