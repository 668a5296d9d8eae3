// SPDX-License-Identifier: GPL-3.0-or-later
// A tab control whose tabs each carry a child window as their page: only the
// selected tab's page is shown, and every page fills the control's page area.
#pragma once

#include <QWidget>
#include <vector>

class QTabBar;

namespace orb {

class CImageList;

class CPageTabCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CPageTabCtrl(QWidget* parent = nullptr);

    // Puts the tab strip along the bottom edge instead of the top.
    void SetTabsAtBottom(bool bottom);
    bool TabsAtBottom() const { return tabsAtBottom_; }
    // Images for the tabs, by the index given to AddPage; the list is not owned.
    void SetImageList(const CImageList* images);

    // Appends a tab with the page as its item; the page becomes a child of this
    // control and is shown only when it is the current page (so only the first page
    // added starts visible). Returns the new tab's index.
    int AddPage(QWidget* page, const QString& text, int image);
    // Selects the tab and switches pages; nothing when it is already selected or
    // out of range.
    void SetCurrentPage(int index);
    int GetCurrentPage() const { return currentPage_; }
    int GetPageCount() const;
    // The page window of a tab, nullptr for an index out of range.
    QWidget* GetPage(int index) const;

    // The page area in this control's coordinates.
    QRect DisplayRect() const;
    QTabBar* TabBar() const { return tabBar_; }

signals:
    // The current page changed through a tab click or SetCurrentPage.
    void currentPageChanged(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnSelChange(int index);
    void LayoutChildren();

    QTabBar* tabBar_ = nullptr;
    const CImageList* images_ = nullptr;
    std::vector<int> imageIndexes_;
    int currentPage_ = -1;
    bool tabsAtBottom_ = false;
    bool adding_ = false;
};

}  // namespace orb
