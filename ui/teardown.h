// SPDX-License-Identifier: GPL-3.0-or-later
// Taking widgets and tree items apart without Qt calling into half-destroyed
// objects: a child that signals while its parent is torn down would reach slots
// of the parent's already destroyed derived part, and a tree item deleted while
// current is reported to the tree's handlers after its own destructor ran.
#pragma once

#include <QObject>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace orb {

// Cuts every connection from the receiver's children to the receiver; called
// first in the destructor of a widget that listens to its own children.
inline void DisconnectChildrenFrom(QObject* receiver) {
    for (QObject* child : receiver->findChildren<QObject*>())
        QObject::disconnect(child, nullptr, receiver, nullptr);
}

// Takes the item out of its tree (the tree moves its current item while the item
// is still whole), then deletes it with its subtree.
inline void DeleteTreeItem(QTreeWidgetItem* item) {
    if (!item) return;
    if (QTreeWidgetItem* parent = item->parent())
        parent->removeChild(item);
    else if (QTreeWidget* tree = item->treeWidget())
        tree->takeTopLevelItem(tree->indexOfTopLevelItem(item));
    delete item;
}

}  // namespace orb
