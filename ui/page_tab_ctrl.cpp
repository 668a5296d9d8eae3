// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/page_tab_ctrl.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

#include "ui/control_rules.h"
#include "ui/image_list.h"
#include "ui/page_accessible.h"
#include "ui/qt_geometry.h"

namespace orb {

namespace {

QWidget* PageOf(const QTabBar* bar, int index) {
    QObject* object = bar->tabData(index).value<QObject*>();
    return qobject_cast<QWidget*>(object);
}

}  // namespace

CPageTabCtrl::CPageTabCtrl(QWidget* parent) : QWidget(parent) {
    InstallPageAccessible();  // before the bar exists, so its interface is the strip's
    tabBar_ = new QTabBar(this);
    tabBar_->setDrawBase(false);
    tabBar_->setExpanding(false);
    tabBar_->setUsesScrollButtons(true);
    connect(tabBar_, &QTabBar::currentChanged, this, &CPageTabCtrl::OnSelChange);
    LayoutChildren();
}

void CPageTabCtrl::SetTabsAtBottom(bool bottom) {
    tabsAtBottom_ = bottom;
    tabBar_->setShape(bottom ? QTabBar::RoundedSouth : QTabBar::RoundedNorth);
    LayoutChildren();
}

void CPageTabCtrl::SetImageList(const CImageList* images) {
    images_ = images;
    for (int i = 0; i < GetPageCount(); ++i) {
        tabBar_->setTabIcon(i, images_ ? images_->Icon(imageIndexes_[i]) : QIcon());
    }
    LayoutChildren();
}

int CPageTabCtrl::AddPage(QWidget* page, const QString& text, int image) {
    // The first tab inserted becomes the bar's current one on its own; that is not
    // a user's selection change, so the switch below is skipped while adding.
    adding_ = true;
    const int index = tabBar_->addTab(text);
    adding_ = false;
    tabBar_->setTabData(index, QVariant::fromValue<QObject*>(page));
    imageIndexes_.push_back(image);
    if (images_) tabBar_->setTabIcon(index, images_->Icon(image));
    if (currentPage_ == -1) currentPage_ = 0;
    if (page) {
        if (page->parentWidget() != this) page->setParent(this);
        page->setVisible(index == currentPage_);
    }
    LayoutChildren();
    return index;
}

void CPageTabCtrl::SetCurrentPage(int index) {
    if (index < 0 || index >= GetPageCount() || index == tabBar_->currentIndex()) return;
    tabBar_->setCurrentIndex(index);  // switches pages through OnSelChange
}

int CPageTabCtrl::GetPageCount() const {
    return tabBar_->count();
}

QWidget* CPageTabCtrl::GetPage(int index) const {
    if (index < 0 || index >= GetPageCount()) return nullptr;
    return PageOf(tabBar_, index);
}

QRect CPageTabCtrl::DisplayRect() const {
    const int strip = tabBar_->sizeHint().height();
    return ToQRect(TabDisplayRect(width(), height(), strip, tabsAtBottom_));
}

void CPageTabCtrl::OnSelChange(int index) {
    if (adding_ || index < 0) return;
    if (QWidget* old = GetPage(currentPage_)) old->hide();
    const int before = currentPage_;
    currentPage_ = index;
    if (QWidget* page = GetPage(currentPage_)) page->show();
    NotifyPageSelection(tabBar_, before, index);
    emit currentPageChanged(currentPage_);
}

void CPageTabCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutChildren();
}

void CPageTabCtrl::LayoutChildren() {
    const int strip = tabBar_->sizeHint().height();
    tabBar_->setGeometry(0, tabsAtBottom_ ? height() - strip : 0, width(), strip);
    // Hidden pages move as well, so a page is already in place when it is shown.
    const QRect area = DisplayRect();
    for (int i = 0; i < GetPageCount(); ++i) {
        if (QWidget* page = GetPage(i)) page->setGeometry(area);
    }
    update();
}

void CPageTabCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.shape = tabBar_->shape();
    option.tabBarSize = tabBar_->size();
    option.rect =
        DisplayRect().adjusted(-kTabPageMargin, -kTabPageMargin, kTabPageMargin, kTabPageMargin);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, this);
}

}  // namespace orb
