// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panel_bar_ctrl.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMouseEvent>
#include <QPainter>
#include <string>

#include "platform/text.h"
#include "ui/image_list.h"
#include "ui/page_accessible.h"
#include "ui/qt_geometry.h"
#include "ui/theme.h"
#include "ui/ui_font.h"

namespace orb {

namespace {

// Titles are kept to what the stored 52-byte title field holds, cut on a character.
QString FitTitle(const QString& title) {
    const std::string stored = HostToStored(title.toStdString());
    if (stored.size() <= static_cast<size_t>(kPanelTitleBytes)) return title;
    const std::string_view cut = CutAtCharBoundary(stored, kPanelTitleBytes);
    return QString::fromStdString(StoredToHost(cut));
}

}  // namespace

CPanelBarCtrl::CPanelBarCtrl(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAcceptDrops(true);
    dragTimer_.setSingleShot(true);
    connect(&dragTimer_, &QTimer::timeout, this, [this] { DragOverAt(dragPos_); });
    clock_.start();
    InstallPageAccessible();
}

bool CPanelBarCtrl::Create(const QRect& rect, QWidget* parent, int id) {
    setParent(parent);
    controlId_ = id;
    setGeometry(rect);
    show();
    return true;
}

void CPanelBarCtrl::SetImageList(const CImageList* images) {
    images_ = images;
    update();
}

void CPanelBarCtrl::SetTickSource(std::function<uint32_t()> ticks) {
    ticks_ = std::move(ticks);
}

uint32_t CPanelBarCtrl::Now() const {
    return ticks_ ? ticks_() : static_cast<uint32_t>(clock_.elapsed());
}

int CPanelBarCtrl::AddItem(const PanelItem& item) {
    PanelItem copy = item;
    copy.title = FitTitle(item.title);
    items_.push_back(copy);
    const int index = GetItemCount() - 1;
    if (selected_ == -1) selected_ = index;
    if (copy.page) {
        if (copy.page->parentWidget() != this) copy.page->setParent(this);
        copy.page->setVisible(index == selected_);
    }
    // Every page's height depends on the number of buttons.
    LayoutPages();
    update();
    return index;
}

void CPanelBarCtrl::SelectItem(int index) {
    if (index < 0 || index >= GetItemCount() || index == selected_) return;
    if (QWidget* old = items_[static_cast<size_t>(selected_)].page) old->hide();
    if (QWidget* page = items_[static_cast<size_t>(index)].page) page->show();
    const int before = selected_;
    selected_ = index;
    // The buttons between the old and new page change sides.
    update();
    NotifyPageSelection(this, before, index);
    emit itemSelected(index);
}

QRect CPanelBarCtrl::ButtonRect(int index) const {
    return ToQRect(PanelButtonRect(index, selected_, GetItemCount(), width(), height()));
}

QRect CPanelBarCtrl::PageRect(int index) const {
    return ToQRect(PanelPageRect(index, GetItemCount(), width(), height()));
}

int CPanelBarCtrl::HitTest(const QPoint& point) const {
    return PanelHitTest(ToUiPoint(point), selected_, GetItemCount(), width(), height());
}

void CPanelBarCtrl::LayoutPages() {
    for (int i = 0; i < GetItemCount(); ++i) {
        if (QWidget* page = items_[static_cast<size_t>(i)].page) page->setGeometry(PageRect(i));
    }
}

void CPanelBarCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutPages();
}

void CPanelBarCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(FollowsDarkTheme(palette()) ? palette().color(QPalette::WindowText)
                                               : QColor(Qt::black));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    for (int i = 0; i < GetItemCount(); ++i) {
        DrawButton(painter, i, i == hotItem_ || i == dropTarget_.DragHoverItem());
    }
}

void CPanelBarCtrl::DrawButton(QPainter& painter, int index, bool highlight) const {
    const PanelItem& item = items_[static_cast<size_t>(index)];
    const QRect r = ButtonRect(index);
    const QPalette& pal = palette();
    const bool theme = FollowsDarkTheme(pal);
    QFont font = SongtiFont(16);
    if (theme) {
        // Hot buttons take the theme's selection colours; the open page's title is
        // bold, as a coloured title alone may not stand out against the theme.
        painter.setPen(pal.color(QPalette::WindowText));
        painter.setBrush(pal.brush(highlight ? QPalette::Highlight : QPalette::Button));
        font.setBold(index == selected_);
    } else {
        painter.setPen(Qt::black);
        painter.setBrush(highlight ? QColor(230, 230, 200) : QColor(200, 200, 200));
    }
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    painter.setFont(font);
    if (theme) {
        painter.setPen(pal.color(highlight ? QPalette::HighlightedText : QPalette::ButtonText));
    } else {
        painter.setPen(index == selected_ ? QColor(0, 0, 255) : QColor(0, 0, 0));
    }
    painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, item.title);
    if (images_) images_->Draw(painter, item.image, r.topLeft() + QPoint(2, 2));
}

void CPanelBarCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) SelectItem(HitTest(event->position().toPoint()));
    QWidget::mousePressEvent(event);
}

void CPanelBarCtrl::mouseMoveEvent(QMouseEvent* event) {
    // The mouse rests as soon as it moves here (the hover time is a millisecond).
    const int hit = HitTest(event->position().toPoint());
    if (hit != hotItem_) {
        hotItem_ = hit;
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void CPanelBarCtrl::leaveEvent(QEvent* event) {
    if (hotItem_ != -1) {
        hotItem_ = -1;
        update();
    }
    QWidget::leaveEvent(event);
}

bool CPanelBarCtrl::DragOverAt(const QPoint& pos) {
    dragPos_ = pos;
    const int before = dropTarget_.DragHoverItem();
    const uint32_t now = Now();
    const CPanelDropTarget::Outcome out = dropTarget_.DragOver(HitTest(pos), selected_, now);
    if (out.selectItem != -1) SelectItem(out.selectItem);
    if (dropTarget_.DragHoverItem() != before) update();
    const int wait = dropTarget_.MsUntilOpen(now);
    if (wait >= 0) {
        dragTimer_.start(wait);
    } else {
        dragTimer_.stop();
    }
    return out.moveEffect;
}

void CPanelBarCtrl::EndDrag() {
    dragTimer_.stop();
    const int before = dropTarget_.DragHoverItem();
    dropTarget_.DragLeave();
    if (before != -1) update();
}

void CPanelBarCtrl::dragEnterEvent(QDragEnterEvent* event) {
    // The enter is always taken, or no drag-over would follow; the effect tells.
    const bool move = DragOverAt(event->position().toPoint());
    event->setDropAction(move ? Qt::MoveAction : Qt::IgnoreAction);
    event->accept();
}

void CPanelBarCtrl::dragMoveEvent(QDragMoveEvent* event) {
    if (DragOverAt(event->position().toPoint())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

void CPanelBarCtrl::dragLeaveEvent(QDragLeaveEvent* event) {
    EndDrag();
    QWidget::dragLeaveEvent(event);
}

void CPanelBarCtrl::dropEvent(QDropEvent* event) {
    // A drop on the bar itself does nothing.
    EndDrag();
    event->setDropAction(Qt::IgnoreAction);
    event->ignore();
}

}  // namespace orb
