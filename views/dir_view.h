// SPDX-License-Identifier: GPL-3.0-or-later
// CCDDirView: the directory tree of the open disc index. One root item labelled
// with the volume label and below it only directories, each level read from the
// index when its item is first expanded. Selecting a directory lists it in the
// file list.
#pragma once

#include <QTreeWidget>
#include <string>
#include <string_view>

#include "index/index_format.h"

namespace orb {

class COrbDoc;
class IOrbShell;

class CCDDirView : public QTreeWidget {
    Q_OBJECT
public:
    CCDDirView(COrbDoc& doc, IOrbShell& shell, QWidget* parent = nullptr);
    ~CCDDirView() override;

    // The disc item; null while no index is open.
    QTreeWidgetItem* RootItem() const;
    // Inserts the item's child directories once (nothing when it was read before).
    void FillChildren(QTreeWidgetItem* item);
    // True when the directory item's entry lists a directory (its expand button).
    bool HasSubdirectory(QTreeWidgetItem* item) const;
    // Stored path of an item: "dir\sub\" from the top level down, "" for the root.
    std::string GetDirectoryPath(const QTreeWidgetItem* item) const;
    // The first child whose stored name equals name byte for byte.
    QTreeWidgetItem* FindChildByName(QTreeWidgetItem* parent, std::string_view storedName) const;
    // "LABEL:\dir\sub\" (or "orb:\dir\"): the part before ":\" is not compared;
    // text after the last '\' is ignored. Expands the way down and selects the
    // directory (which lists it). 1 on success, 0 when a component is missing.
    int SelectDirectoryByPath(const std::string& storedPath);
    // Selects the child directory of the selected item with this stored name, reading
    // it first if needed (the file list's double click on a directory). 1 on success.
    int SelectChildDirectory(std::string_view storedName);
    // The stored entry of a directory item (null for the root).
    const IndexEntry* EntryOf(const QTreeWidgetItem* item) const;

    // Rereads the tree from the document (its update signal calls it).
    void OnUpdate();

private:
    void OnSelectionChanged();
    QTreeWidgetItem* MakeDirectoryItem(const IndexEntry& entry);

    COrbDoc& m_doc;
    IOrbShell& m_shell;
};

}  // namespace orb
