// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites tree: both the display and the store of the user's categories
// and software entries. Every item carries its FavoriteItem record; the file
// favorite.dat of the library directory is read into the tree and written from it.
// The "root" is the tree's invisible root item; nullptr means the root as well.
#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "favorites/store/favorite_store.h"

namespace orb {

class CFavoriteTree : public QTreeWidget {
    Q_OBJECT

public:
    explicit CFavoriteTree(QWidget* parent = nullptr);
    // Writes the file when the tree was changed since it was read.
    ~CFavoriteTree() override;

    // Saves the current library's file first when modified, clears the tree and
    // reads favorite.dat of the new library (a host path). True when the file
    // could be opened; LastStatus tells whether it was damaged.
    bool LoadFavorites(const std::string& libraryPath);
    // favorite.dat was changed outside (another window or machine): shows what it
    // holds now, with this tree's unsaved changes applied on top, keeping the
    // current item and the expanded categories. False, with the tree kept, when
    // the file holds what was last read or cannot be read whole.
    bool ReloadFromFile();
    // Writes the whole tree to a file (through a temporary file and a rename).
    // False when it cannot be written; LastStatus tells why.
    bool SaveFavorites(const std::string& filePath);
    // The favourites file of the current library ("" before the first load).
    std::string FavoritesFilePath() const;
    const std::string& GetLibraryPath() const { return m_libraryPath; }

    // Finds or creates each category of "a\b\c\" below parent and returns the last;
    // null for an empty text or a name of 100 bytes or more (nothing is created).
    QTreeWidgetItem* AddCategoryPath(const QString& text, QTreeWidgetItem* parent);
    // Appends a software item; false when the location's index file is not in the
    // library, or a name or path is too long. The new item is stored in added.
    bool AddSoftware(QTreeWidgetItem* parent, const QString& name, const QString& remark,
                     const FavoriteLocation* location, QTreeWidgetItem** added = nullptr);
    // Points a software item to a location, or to none with nullptr.
    bool SetSoftwareLocation(QTreeWidgetItem* item, const FavoriteLocation* location);
    // Replaces the remark; false when it already equals the text.
    bool SetSoftwareRemark(QTreeWidgetItem* item, const QString& text);
    // The same with stored bytes taken as they are (a remark read from a file).
    bool SetSoftwareRemarkStored(QTreeWidgetItem* item, std::string stored);
    // Copies a new name into the item's record; false for a name of 100 bytes or more.
    bool RenameFavorite(QTreeWidgetItem* item, const QString& name);
    // Removes the item and its subtree; the root (or nullptr) removes everything.
    void DeleteFavorite(QTreeWidgetItem* item);
    // Makes the item, with its subtree and records, the last child of newParent.
    // Returns the moved item, or null when newParent is the item or lies inside it.
    QTreeWidgetItem* MoveFavorite(QTreeWidgetItem* item, QTreeWidgetItem* newParent);
    // A disc's index file (from, to) or a category's directory (paths ending with
    // '/') of the library now lives elsewhere: every software entry on that disc, or
    // on a disc below that category, points to the new place. Returns how many did.
    int MoveDiscPaths(const std::string& fromHost, const std::string& toHost);
    // "工具\网络\" for the category 网络 inside 工具; empty for the root.
    QString GetCategoryPath(QTreeWidgetItem* item) const;
    // The same as stored text.
    std::string GetCategoryPathStored(QTreeWidgetItem* item) const;
    // Expands every item.
    void ExpandAll() { expandAll(); }
    // True for the root and for categories.
    bool IsCategory(QTreeWidgetItem* item) const;

    bool IsModified() const { return m_modified != 0; }
    void SetModified(bool modified) { m_modified = modified ? 1 : 0; }
    // The outcome of the last operation that can fail (load, save, add, rename...).
    FavoriteStatus LastStatus() const { return m_lastStatus; }
    // The system's reason when the last save could not write the file.
    const std::string& LastSaveError() const { return m_lastSaveError; }

    // The record of an item; null for the root.
    static const FavoriteItem* GetFavoriteItem(const QTreeWidgetItem* item);
    // 0 software without a location, 1 software with one, 2 category; -1 for none.
    static int ItemImage(const QTreeWidgetItem* item);
    // The host path of a software item's index file, empty when it has no location
    // or the stored path would leave the library.
    std::string GetIndexPath(const QTreeWidgetItem* item) const;

    // The whole tree as plain records, in tree order.
    std::vector<FavoriteNode> ToNodes() const;

signals:
    // The user started dragging an item; whoever handles drops on the tree runs it.
    void beginDrag(QTreeWidgetItem* item);

protected:
    void startDrag(Qt::DropActions supportedActions) override;

private:
    QTreeWidgetItem* Root(QTreeWidgetItem* item) const;
    QTreeWidgetItem* NewItem(QTreeWidgetItem* parent, FavoriteItem record);
    void AddNodes(QTreeWidgetItem* parent, std::vector<FavoriteNode>& nodes);
    // Shows nodes instead of the tree's items, keeping the current item and the
    // expanded categories where they still exist.
    void ShowNodes(std::vector<FavoriteNode> nodes);
    bool Fail(FavoriteStatus status);
    FavoriteStatus CheckLocation(const FavoriteLocation& location, std::string& discPath) const;

    int m_modified = 1;
    std::string m_libraryPath;  // host path ending with '/', empty before the first load
    FavoriteStatus m_lastStatus = FavoriteStatus::Ok;
    std::string m_lastSaveError;
    // The file's contents as last read or written: a save applies only the changes
    // made since, so other windows' saves are kept.
    std::vector<FavoriteNode> m_base;
    QList<QIcon> m_images;
};

}  // namespace orb
