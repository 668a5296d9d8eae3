// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's scope tree with tri-state check boxes.
#include "search/pane/search_scope_tree.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidgetItemIterator>
#include <vector>

#include "search/pane/search_rules.h"

namespace orb {

namespace {

Qt::CheckState ToQt(int state) {
    switch (state) {
        case kScopeChecked:
            return Qt::Checked;
        case kScopePartial:
            return Qt::PartiallyChecked;
        default:
            return Qt::Unchecked;
    }
}

// Check states set while one lives do not reach the view one by one: each would
// have the model find the item's row among its siblings and the view repaint it,
// which took half a minute for 100,000 categories. The view repaints once at the
// end instead. Nothing else listens to the model's item signals.
class CheckBatch {
public:
    explicit CheckBatch(QTreeWidget* tree) : tree_(tree), blocker_(tree->model()) {}
    ~CheckBatch() {
        blocker_.unblock();
        tree_->viewport()->update();
    }

private:
    QTreeWidget* tree_;
    QSignalBlocker blocker_;
};

}  // namespace

CSearchScopeTree::CSearchScopeTree(QWidget* parent) : CLibraryTree(parent) {
    // Every item, however it got into the tree (a refill included), starts
    // unchecked with a visible box.
    connect(model(), &QAbstractItemModel::rowsInserted, this, &CSearchScopeTree::OnRowsInserted);
}

int CSearchScopeTree::CheckState(const QTreeWidgetItem* item) {
    if (!item) return 0;
    QVariant v = item->data(0, Qt::CheckStateRole);
    if (!v.isValid()) return kScopeUnchecked;
    switch (static_cast<Qt::CheckState>(v.toInt())) {
        case Qt::Checked:
            return kScopeChecked;
        case Qt::PartiallyChecked:
            return kScopePartial;
        default:
            return kScopeUnchecked;
    }
}

void CSearchScopeTree::OnRowsInserted(const QModelIndex& parent, int first, int last) {
    QTreeWidgetItem* parentItem = itemFromIndex(parent);
    CheckBatch batch(this);
    std::vector<QTreeWidgetItem*> stack;
    for (int row = first; row <= last; ++row) {
        QTreeWidgetItem* item = parentItem ? parentItem->child(row) : topLevelItem(row);
        if (item) stack.push_back(item);
    }
    while (!stack.empty()) {
        QTreeWidgetItem* item = stack.back();
        stack.pop_back();
        if (!item->data(0, Qt::CheckStateRole).isValid()) item->setCheckState(0, Qt::Unchecked);
        for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
    }
    if (parentItem) UpdateAncestors(parentItem->child(first));
}

void CSearchScopeTree::SetSubtree(QTreeWidgetItem* item, int state) {
    std::vector<QTreeWidgetItem*> stack{item};
    while (!stack.empty()) {
        QTreeWidgetItem* at = stack.back();
        stack.pop_back();
        at->setCheckState(0, ToQt(state));
        for (int i = 0; i < at->childCount(); ++i) stack.push_back(at->child(i));
    }
}

void CSearchScopeTree::UpdateAncestors(QTreeWidgetItem* item) {
    if (!item) return;
    for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) {
        std::vector<int> states;
        states.reserve(static_cast<size_t>(parent->childCount()));
        for (int i = 0; i < parent->childCount(); ++i)
            states.push_back(CheckState(parent->child(i)));
        parent->setCheckState(0, ToQt(CombinedScopeCheck(states, CheckState(parent))));
    }
}

void CSearchScopeTree::SetItemCheck(QTreeWidgetItem* item, int state) {
    if (!item) return;
    CheckBatch batch(this);
    SetSubtree(item, state);
    UpdateAncestors(item);
}

void CSearchScopeTree::ToggleItem(QTreeWidgetItem* item) {
    if (item) SetItemCheck(item, ToggledScopeCheck(CheckState(item)));
}

QTreeWidgetItem* CSearchScopeTree::NextCheckedDisc(QTreeWidgetItem* item) const {
    for (QTreeWidgetItem* at = NextItemPreorder(item); at; at = NextItemPreorder(at))
        if (!IsCategoryItem(at) && IsScopeSearched(CheckState(at))) return at;
    return nullptr;
}

std::vector<std::pair<std::string, int>> CSearchScopeTree::DiscChecks() const {
    std::vector<std::pair<std::string, int>> checks;
    // The iterator does not look each item up among its siblings, as a step of
    // NextItemPreorder does: a level of 100,000 items stays linear.
    for (QTreeWidgetItemIterator it(const_cast<CSearchScopeTree*>(this)); *it; ++it)
        if (!IsCategoryItem(*it)) checks.emplace_back(GetItemPath(*it, true), CheckState(*it));
    return checks;
}

void CSearchScopeTree::RefillKeepingChecks(const std::string& libraryDir) {
    const auto before = DiscChecks();
    // The categories the user opened stay open: a disc added elsewhere must not
    // fold the part of the scope being ticked.
    std::vector<std::string> expanded;
    for (QTreeWidgetItemIterator it(this); *it; ++it)
        if ((*it)->isExpanded() && (*it)->parent()) expanded.push_back(GetItemPath(*it, true));
    FillLibrary(libraryDir);
    for (const std::string& path : expanded)
        if (QTreeWidgetItem* item = FindItemByPath(path)) item->setExpanded(true);
    CheckBatch batch(this);
    std::vector<QTreeWidgetItem*> discs;
    std::vector<std::string> paths;
    std::vector<QTreeWidgetItem*> categories;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        if (IsCategoryItem(*it)) {
            categories.push_back(*it);
            continue;
        }
        discs.push_back(*it);
        paths.push_back(GetItemPath(*it, true));
    }
    const std::vector<int> states = ScopeChecksAfterRefill(before, paths);
    for (size_t i = 0; i < discs.size(); ++i) discs[i]->setCheckState(0, ToQt(states[i]));
    // Categories from their children, deepest first: one pass for the whole tree.
    for (auto it = categories.rbegin(); it != categories.rend(); ++it) {
        QTreeWidgetItem* category = *it;
        std::vector<int> children;
        for (int i = 0; i < category->childCount(); ++i)
            children.push_back(CheckState(category->child(i)));
        category->setCheckState(0, ToQt(CombinedScopeCheck(children, CheckState(category))));
    }
}

QTreeWidgetItem* CSearchScopeTree::CheckBoxItemAt(const QPoint& pos) const {
    QTreeWidgetItem* item = itemAt(pos);
    if (!item) return nullptr;
    // The box is drawn first in the item's cell, after the style's margin.
    const QRect cell = visualItemRect(item);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int box = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    const int left = cell.left();
    return pos.x() >= left && pos.x() < left + box + 2 * margin ? item : nullptr;
}

void CSearchScopeTree::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem* item = CheckBoxItemAt(event->position().toPoint())) {
            // The box neither selects the item nor reaches the view's own handling.
            ToggleItem(item);
            event->accept();
            return;
        }
    }
    CLibraryTree::mousePressEvent(event);
}

void CSearchScopeTree::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && CheckBoxItemAt(event->position().toPoint())) {
        event->accept();
        return;
    }
    CLibraryTree::mouseReleaseEvent(event);
}

void CSearchScopeTree::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double click on a box toggles again.
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem* item = CheckBoxItemAt(event->position().toPoint())) {
            ToggleItem(item);
            event->accept();
            return;
        }
    }
    CLibraryTree::mouseDoubleClickEvent(event);
}

void CSearchScopeTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && currentItem()) {
        ToggleItem(currentItem());
        event->accept();
        return;
    }
    CLibraryTree::keyPressEvent(event);
}

}  // namespace orb
