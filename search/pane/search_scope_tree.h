// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's scope tree: the library tree with tri-state check boxes. A
// click on a box or the space key toggles the item, gives the new state to its
// whole subtree and recomputes every ancestor from its children.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "library/tree/library_tree.h"

namespace orb {

class CSearchScopeTree : public CLibraryTree {
    Q_OBJECT
public:
    explicit CSearchScopeTree(QWidget* parent = nullptr);

    // 1 unchecked, 2 partly checked, 3 checked (0 for no item).
    static int CheckState(const QTreeWidgetItem* item);
    // Toggles as a click on the item's box does.
    void ToggleItem(QTreeWidgetItem* item);
    // Sets the state of the item and its subtree, then recomputes the ancestors.
    void SetItemCheck(QTreeWidgetItem* item, int state);
    // The next disc after `item` in tree order whose state is 2 or 3; null at the
    // end of the tree.
    QTreeWidgetItem* NextCheckedDisc(QTreeWidgetItem* item) const;
    // The index path and state of every disc, in tree order.
    std::vector<std::pair<std::string, int>> DiscChecks() const;
    // Fills the tree from the library again, keeping the state of every disc by
    // path and ticking the discs it did not show before.
    void RefillKeepingChecks(const std::string& libraryDir);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The item whose check box lies under the point (viewport coordinates).
    QTreeWidgetItem* CheckBoxItemAt(const QPoint& pos) const;
    void OnRowsInserted(const QModelIndex& parent, int first, int last);
    static void SetSubtree(QTreeWidgetItem* item, int state);
    static void UpdateAncestors(QTreeWidgetItem* item);
};

}  // namespace orb
