// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include "tests/support/test_support.h"
#include "ui/hover_button.h"
#include "ui/image_list.h"
#include "ui/page_tab_ctrl.h"
#include "ui/pane_splitter.h"
#include "ui/panel_bar_ctrl.h"

namespace orb {
namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

// Never destroyed: the test library's pointing device outlives every static, and
// tearing the application down at exit would delete it twice.
QApplication& App() {
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Fixtures derive from this first, so the application exists before their widgets.
struct WithApp {
    WithApp() { App(); }
};

QRgb PixelAt(QWidget& w, int x, int y) {
    return w.grab().toImage().pixel(x, y) & 0x00FFFFFF;
}

// A mouse event with explicit buttons held, for moves during a press.
void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// ---------------------------------------------------------------------------------

struct TabFixture : WithApp {
    QWidget window;
    CPageTabCtrl* tabs = new CPageTabCtrl(&window);
    QLabel* pages[3] = {new QLabel("a"), new QLabel("b"), new QLabel("c")};
    TabFixture() {
        tabs->setGeometry(0, 0, 240, 160);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(tabs->AddPage(pages[i], QString("tab %1").arg(i), i), i);
        }
        window.resize(240, 160);
        window.show();
    }
};

TEST(PageTabCtrl, OnlyTheFirstPageStartsVisible) {
    TabFixture f;
    EXPECT_EQ(f.tabs->GetCurrentPage(), 0);
    EXPECT_EQ(f.tabs->GetPageCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.tabs->GetPage(i), f.pages[i]);
        EXPECT_EQ(f.pages[i]->parentWidget(), f.tabs);
        EXPECT_EQ(f.pages[i]->isVisible(), i == 0) << i;
    }
    EXPECT_EQ(f.tabs->GetPage(3), nullptr);
    EXPECT_EQ(f.tabs->GetPage(-1), nullptr);
}

TEST(PageTabCtrl, SelectingATabSwapsThePages) {
    TabFixture f;
    QSignalSpy changed(f.tabs, &CPageTabCtrl::currentPageChanged);
    f.tabs->SetCurrentPage(2);
    EXPECT_EQ(f.tabs->GetCurrentPage(), 2);
    EXPECT_FALSE(f.pages[0]->isVisible());
    EXPECT_FALSE(f.pages[1]->isVisible());
    EXPECT_TRUE(f.pages[2]->isVisible());
    ASSERT_EQ(changed.count(), 1);

    // The same index again, or one that does not exist, changes nothing.
    f.tabs->SetCurrentPage(2);
    f.tabs->SetCurrentPage(7);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(f.pages[2]->isVisible());

    // A click on a tab switches like SetCurrentPage.
    QTabBar* bar = f.tabs->TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(1).center());
    EXPECT_EQ(f.tabs->GetCurrentPage(), 1);
    EXPECT_TRUE(f.pages[1]->isVisible());
    EXPECT_FALSE(f.pages[2]->isVisible());
    EXPECT_EQ(changed.count(), 2);
}

TEST(PageTabCtrl, ResizingMovesEveryPageShownOrHidden) {
    TabFixture f;
    f.tabs->resize(320, 200);
    const QRect area = f.tabs->DisplayRect();
    EXPECT_GT(area.top(), 2);  // below the tab strip
    EXPECT_EQ(area.left(), 2);
    EXPECT_EQ(area.right(), 320 - 3);
    EXPECT_EQ(area.bottom(), 200 - 3);
    for (QLabel* page : f.pages) EXPECT_EQ(page->geometry(), area);

    f.tabs->SetTabsAtBottom(true);
    const QRect bottomArea = f.tabs->DisplayRect();
    EXPECT_EQ(bottomArea.top(), 2);
    EXPECT_EQ(bottomArea.bottom() + 1 + 2, f.tabs->TabBar()->geometry().top());
    for (QLabel* page : f.pages) EXPECT_EQ(page->geometry(), bottomArea);
}

TEST(PageTabCtrl, TabsTakeTheirImagesFromTheList) {
    TabFixture f;
    QImage strip(32, 16, QImage::Format_RGB32);
    strip.fill(Qt::red);
    CImageList images(16, 16);
    ASSERT_EQ(images.AddStrip(strip, QColor(255, 0, 255)), 0);
    f.tabs->SetImageList(&images);
    EXPECT_FALSE(f.tabs->TabBar()->tabIcon(0).isNull());
    EXPECT_FALSE(f.tabs->TabBar()->tabIcon(1).isNull());
    EXPECT_TRUE(f.tabs->TabBar()->tabIcon(2).isNull());  // the list has two images
}

// ---------------------------------------------------------------------------------

// An upper control from 0 to 200, the bar from 200 to 208, a lower control ending at
// 500; 100 pixels kept for each.
struct SplitFixture : WithApp {
    QWidget pane;
    QWidget* upper = new QWidget(&pane);
    CPaneSplitter* bar = new CPaneSplitter(&pane, 1009);
    QWidget* lower = new QWidget(&pane);
    SplitFixture() {
        pane.resize(300, 500);
        upper->setGeometry(0, 0, 300, 200);
        bar->setGeometry(0, 200, 300, 8);
        lower->setGeometry(0, 208, 300, 292);
        pane.show();
    }
    void Bind() { bar->BindPanes(upper, lower, 100, 100, kSplitUpDown); }
    // Moves the held pointer to a y of the pane.
    void DragTo(int paneY) {
        SendMouse(bar, QEvent::MouseMove, bar->mapFromParent(QPoint(150, paneY)), Qt::NoButton,
                  Qt::LeftButton);
    }
};

TEST(PageTabCtrl, ScreenReadersSeePageTabsWithTheCurrentOneSelected) {
    TabFixture f;
    QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(f.tabs->TabBar());
    ASSERT_TRUE(strip);
    EXPECT_EQ(strip->role(), QAccessible::PageTabList);
    EXPECT_EQ(strip->text(QAccessible::Name), QString::fromUtf8("tab 0、tab 1、tab 2"));
    f.tabs->TabBar()->setAccessibleName(QStringLiteral("页"));
    EXPECT_EQ(strip->text(QAccessible::Name), QStringLiteral("页"));
    f.tabs->SetCurrentPage(1);
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* tab = strip->child(i);
        ASSERT_TRUE(tab) << i;
        EXPECT_EQ(tab->role(), QAccessible::PageTab);
        EXPECT_EQ(tab->text(QAccessible::Name), QString("tab %1").arg(i));
        EXPECT_EQ(tab->state().selected, i == 1) << i;
        EXPECT_EQ(tab->state().checked, i == 1) << i;
    }
    strip->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(f.tabs->GetCurrentPage(), 2);
    EXPECT_TRUE(f.pages[2]->isVisible());
}

TEST(PaneSplitter, TrackerStaysInsideTheBandAndTheReleaseMovesBothControls) {
    SplitFixture f;
    f.Bind();
    QSignalSpy moved(f.bar, &CPaneSplitter::moved);
    QTest::mousePress(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(150, 4));
    ASSERT_TRUE(f.bar->Track().IsTracking());
    ASSERT_NE(f.bar->Tracker(), nullptr);
    EXPECT_TRUE(f.bar->Tracker()->isVisible());
    EXPECT_EQ(f.bar->Tracker()->geometry(), QRect(0, 200, 300, 8));

    f.DragTo(50);  // above the band: stays
    EXPECT_EQ(f.bar->Track().TrackerPosition(), 204);
    f.DragTo(100);
    EXPECT_EQ(f.bar->Track().TrackerPosition(), 100);
    f.DragTo(450);  // below the band: stays
    EXPECT_EQ(f.bar->Track().TrackerPosition(), 100);
    f.DragTo(400);
    EXPECT_EQ(f.bar->Track().TrackerPosition(), 400);
    f.DragTo(300);
    EXPECT_EQ(f.bar->Tracker()->geometry(), QRect(0, 296, 300, 8));
    // Nothing moves before the release.
    EXPECT_EQ(f.upper->geometry(), QRect(0, 0, 300, 200));
    EXPECT_TRUE(moved.isEmpty());

    QTest::mouseRelease(f.bar, Qt::LeftButton, Qt::NoModifier,
                        f.bar->mapFromParent(QPoint(150, 300)));
    EXPECT_FALSE(f.bar->Track().IsTracking());
    EXPECT_FALSE(f.bar->Tracker()->isVisible());
    EXPECT_EQ(f.upper->geometry(), QRect(0, 0, 300, 296));
    EXPECT_EQ(f.lower->geometry(), QRect(0, 304, 300, 196));
    EXPECT_EQ(f.bar->geometry(), QRect(0, 296, 300, 8));
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).value<CPaneSplitter*>(), f.bar);
    EXPECT_EQ(moved.at(0).at(1).toInt(), 1009);
}

TEST(PaneSplitter, ReleaseWithoutMovingStillNotifies) {
    SplitFixture f;
    f.Bind();
    QSignalSpy moved(f.bar, &CPaneSplitter::moved);
    QTest::mouseClick(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, 2));
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(f.upper->geometry(), QRect(0, 0, 300, 200));
    EXPECT_EQ(f.lower->geometry(), QRect(0, 208, 300, 292));
    EXPECT_EQ(f.bar->geometry(), QRect(0, 200, 300, 8));
}

TEST(PaneSplitter, UnboundBarIgnoresTheMouse) {
    SplitFixture f;
    QSignalSpy moved(f.bar, &CPaneSplitter::moved);
    QTest::mousePress(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(150, 4));
    f.DragTo(300);
    QTest::mouseRelease(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(150, 4));
    EXPECT_TRUE(moved.isEmpty());
    EXPECT_EQ(f.bar->geometry(), QRect(0, 200, 300, 8));
    EXPECT_EQ(f.upper->geometry(), QRect(0, 0, 300, 200));
}

TEST(PaneSplitter, ControlGoneDuringTheDragEndsItQuietly) {
    SplitFixture f;
    f.Bind();
    QSignalSpy moved(f.bar, &CPaneSplitter::moved);
    QTest::mousePress(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(150, 4));
    delete f.lower;
    f.DragTo(300);
    QTest::mouseRelease(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(150, 4));
    EXPECT_FALSE(f.bar->Track().IsTracking());
    EXPECT_TRUE(moved.isEmpty());
    EXPECT_EQ(f.upper->geometry(), QRect(0, 0, 300, 200));
}

TEST(PaneSplitter, CursorAndColours) {
    SplitFixture f;
    f.Bind();
    EXPECT_EQ(f.bar->cursor().shape(), Qt::SizeVerCursor);
    f.bar->BindPanes(f.upper, f.lower, 10, 10, kSplitSideways);
    EXPECT_EQ(f.bar->cursor().shape(), Qt::SizeHorCursor);
    EXPECT_EQ(PixelAt(*f.bar, 150, 4), qRgb(200, 220, 220) & 0x00FFFFFF);
    EXPECT_EQ(PixelAt(*f.bar, 150, 1), qRgb(200, 200, 200) & 0x00FFFFFF);  // inner outline
    EXPECT_EQ(PixelAt(*f.bar, 150, 7), f.bar->palette().color(QPalette::Dark).rgb() & 0x00FFFFFF);
    EXPECT_EQ(PixelAt(*f.bar, 150, 0), f.bar->palette().color(QPalette::Light).rgb() & 0x00FFFFFF);
}

// ---------------------------------------------------------------------------------

struct PanelFixture : WithApp {
    QWidget frame;
    CPanelBarCtrl* bar = new CPanelBarCtrl;
    QWidget* pages[3] = {new QWidget, new QWidget, new QWidget};
    uint32_t now = 1000;
    PanelFixture() {
        frame.resize(200, 300);
        bar->Create(QRect(0, 0, 120, 300), &frame, 100);
        const char* titles[] = {"光盘库", "收藏夹", "搜索"};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(bar->AddItem({QString::fromUtf8(titles[i]), i, pages[i]}), i);
        }
        frame.show();
    }
    void UseFakeClock() {
        bar->SetTickSource([this] { return now; });
    }
    QMimeData mime;
    // Sends a drag event of the given type at a point of the bar; returns whether
    // it was accepted, and the action in *action.
    bool Drag(QEvent::Type type, QPoint pos, Qt::DropAction* action = nullptr) {
        bool accepted = false;
        Qt::DropAction result = Qt::IgnoreAction;
        if (type == QEvent::DragEnter) {
            QDragEnterEvent e(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(bar, &e);
            accepted = e.isAccepted();
            result = e.dropAction();
        } else if (type == QEvent::DragMove) {
            QDragMoveEvent e(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(bar, &e);
            accepted = e.isAccepted();
            result = e.dropAction();
        } else if (type == QEvent::Drop) {
            QDropEvent e(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                         Qt::NoModifier);
            QApplication::sendEvent(bar, &e);
            accepted = e.isAccepted();
            result = e.dropAction();
        } else {
            QDragLeaveEvent e;
            QApplication::sendEvent(bar, &e);
        }
        if (action) *action = result;
        return accepted;
    }
};

TEST(PanelBarCtrl, ThreePagesStackAroundTheOpenOne) {
    PanelFixture f;
    EXPECT_EQ(f.bar->ControlId(), 100);
    EXPECT_EQ(f.bar->GetSelectedItem(), 0);
    EXPECT_EQ(f.bar->ButtonRect(0), QRect(0, 0, 120, 20));
    EXPECT_EQ(f.bar->ButtonRect(1), QRect(0, 260, 120, 20));
    EXPECT_EQ(f.bar->ButtonRect(2), QRect(0, 280, 120, 20));
    EXPECT_EQ(f.pages[0]->geometry(), QRect(0, 20, 120, 240));
    EXPECT_TRUE(f.pages[0]->isVisible());
    EXPECT_FALSE(f.pages[1]->isVisible());
    EXPECT_FALSE(f.pages[2]->isVisible());

    QSignalSpy selected(f.bar, &CPanelBarCtrl::itemSelected);
    QTest::mouseClick(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(60, 290));
    EXPECT_EQ(f.bar->GetSelectedItem(), 2);
    EXPECT_EQ(f.bar->ButtonRect(0).top(), 0);
    EXPECT_EQ(f.bar->ButtonRect(1).top(), 20);
    EXPECT_EQ(f.bar->ButtonRect(2).top(), 40);
    EXPECT_EQ(f.pages[2]->geometry(), QRect(0, 60, 120, 240));
    EXPECT_FALSE(f.pages[0]->isVisible());
    EXPECT_TRUE(f.pages[2]->isVisible());
    EXPECT_EQ(selected.count(), 1);

    // The open page's button, and the page area, change nothing.
    QTest::mouseClick(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(60, 45));
    QTest::mouseClick(f.bar, Qt::LeftButton, Qt::NoModifier, QPoint(60, 150));
    f.bar->SelectItem(-1);
    f.bar->SelectItem(3);
    EXPECT_EQ(f.bar->GetSelectedItem(), 2);
    EXPECT_EQ(selected.count(), 1);
    EXPECT_TRUE(f.pages[2]->isVisible());
}

TEST(PanelBarCtrl, ResizingMovesEveryPage) {
    PanelFixture f;
    f.bar->resize(150, 400);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.pages[i]->geometry(), QRect(0, 20 * i + 20, 150, 340)) << i;
    }
    EXPECT_EQ(f.bar->ButtonRect(2), QRect(0, 380, 150, 20));
}

TEST(PanelBarCtrl, DragRestingOnAButtonOpensItsPage) {
    PanelFixture f;
    f.UseFakeClock();
    Qt::DropAction action = Qt::IgnoreAction;
    EXPECT_TRUE(f.Drag(QEvent::DragEnter, QPoint(60, 270), &action));
    EXPECT_EQ(action, Qt::MoveAction);
    EXPECT_EQ(f.bar->DragHoverItem(), 1);
    f.now += 300;
    EXPECT_TRUE(f.Drag(QEvent::DragMove, QPoint(61, 271)));
    EXPECT_EQ(f.bar->GetSelectedItem(), 0);
    f.now += 300;  // 0.6 s on the favourites button
    EXPECT_TRUE(f.Drag(QEvent::DragMove, QPoint(62, 272)));
    EXPECT_EQ(f.bar->GetSelectedItem(), 1);
    EXPECT_TRUE(f.pages[1]->isVisible());
    EXPECT_FALSE(f.pages[0]->isVisible());
    EXPECT_EQ(f.bar->DragHoverItem(), -1);
    // The button it opened is now the open page's: no effect there.
    f.now += 10;
    EXPECT_FALSE(f.Drag(QEvent::DragMove, QPoint(60, 30), &action));
    EXPECT_EQ(action, Qt::IgnoreAction);
}

TEST(PanelBarCtrl, DragPassingOverAButtonDoesNotOpenIt) {
    PanelFixture f;
    f.UseFakeClock();
    f.Drag(QEvent::DragEnter, QPoint(60, 150));
    f.Drag(QEvent::DragMove, QPoint(60, 270));
    f.now += 200;
    Qt::DropAction action = Qt::MoveAction;
    EXPECT_FALSE(f.Drag(QEvent::DragMove, QPoint(60, 200), &action));  // over the page
    EXPECT_EQ(action, Qt::IgnoreAction);
    f.now += 2000;
    f.Drag(QEvent::DragMove, QPoint(60, 201));
    EXPECT_EQ(f.bar->GetSelectedItem(), 0);
    EXPECT_EQ(f.bar->DragHoverItem(), -1);
}

TEST(PanelBarCtrl, LeavingOrDroppingEndsTheDragWithoutOpening) {
    PanelFixture f;
    f.UseFakeClock();
    f.Drag(QEvent::DragEnter, QPoint(60, 290));
    EXPECT_EQ(f.bar->DragHoverItem(), 2);
    f.Drag(QEvent::DragLeave, QPoint());
    EXPECT_EQ(f.bar->DragHoverItem(), -1);
    f.now += 5000;
    f.Drag(QEvent::DragEnter, QPoint(60, 290));
    EXPECT_EQ(f.bar->GetSelectedItem(), 0);  // a fresh wait, not the old one
    EXPECT_FALSE(f.Drag(QEvent::Drop, QPoint(60, 290)));
    EXPECT_EQ(f.bar->DragHoverItem(), -1);
    EXPECT_EQ(f.bar->GetSelectedItem(), 0);
}

TEST(PanelBarCtrl, StillPointerOpensThePageWithoutFurtherEvents) {
    PanelFixture f;  // the real clock
    f.Drag(QEvent::DragEnter, QPoint(60, 270));
    EXPECT_EQ(f.bar->GetSelectedItem(), 0);
    QElapsedTimer waited;
    waited.start();
    while (f.bar->GetSelectedItem() != 1 && waited.elapsed() < 5000) QTest::qWait(20);
    EXPECT_EQ(f.bar->GetSelectedItem(), 1);
    EXPECT_GT(waited.elapsed(), 450);
}

TEST(PanelBarCtrl, ButtonsAreDrawnInTheirStates) {
    PanelFixture f;
    const QRgb plain = qRgb(200, 200, 200) & 0x00FFFFFF;
    const QRgb lit = qRgb(230, 230, 200) & 0x00FFFFFF;
    // Right end of each button, clear of title and image; the outline is black.
    EXPECT_EQ(PixelAt(*f.bar, 115, 10), plain);
    EXPECT_EQ(PixelAt(*f.bar, 115, 270), plain);
    EXPECT_EQ(PixelAt(*f.bar, 115, 260), 0u);
    EXPECT_EQ(PixelAt(*f.bar, 119, 270), 0u);

    SendMouse(f.bar, QEvent::MouseMove, QPoint(60, 270), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(f.bar->HotItem(), 1);
    EXPECT_EQ(PixelAt(*f.bar, 115, 270), lit);
    EXPECT_EQ(PixelAt(*f.bar, 115, 10), plain);
    SendMouse(f.bar, QEvent::MouseMove, QPoint(60, 150), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(f.bar->HotItem(), -1);
    SendMouse(f.bar, QEvent::MouseMove, QPoint(60, 290), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(f.bar->HotItem(), 2);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(f.bar, &leave);
    EXPECT_EQ(f.bar->HotItem(), -1);
    EXPECT_EQ(PixelAt(*f.bar, 115, 290), plain);

    // A button lit by a drag.
    f.UseFakeClock();
    f.Drag(QEvent::DragEnter, QPoint(60, 285));
    EXPECT_EQ(PixelAt(*f.bar, 115, 290), lit);
}

TEST(PanelBarCtrl, ImagesAndTitles) {
    PanelFixture f;
    QImage strip(48, 16, QImage::Format_RGB32);
    strip.fill(QColor(255, 0, 255));
    QPainter p(&strip);
    p.fillRect(0, 0, 16, 16, QColor(0, 128, 0));
    p.fillRect(16, 0, 16, 16, QColor(128, 0, 0));
    p.end();
    CImageList images(16, 16);
    ASSERT_EQ(images.AddStrip(strip, QColor(255, 0, 255)), 0);
    f.bar->SetImageList(&images);
    // Image 0 at two pixels in from the button's corner; image 2 is all mask colour.
    EXPECT_EQ(PixelAt(*f.bar, 2, 2), qRgb(0, 128, 0) & 0x00FFFFFF);
    EXPECT_EQ(PixelAt(*f.bar, 10, 12), qRgb(0, 128, 0) & 0x00FFFFFF);
    EXPECT_EQ(PixelAt(*f.bar, 2, 262), qRgb(128, 0, 0) & 0x00FFFFFF);
    EXPECT_EQ(PixelAt(*f.bar, 10, 290), qRgb(200, 200, 200) & 0x00FFFFFF);

    // A title longer than the field is cut on a character, never inside one.
    QString longTitle;
    for (int i = 0; i < 30; ++i) longTitle += QString::fromUtf8("库");
    f.bar->AddItem({longTitle, -1, nullptr});
    EXPECT_EQ(f.bar->GetItem(3).title, longTitle.left(25));
}

TEST(PanelBarCtrl, ScreenReadersSeePageTabsThatOpenTheirPage) {
    PanelFixture f;
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(f.bar);
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->role(), QAccessible::PageTabList);
    auto button = [&](int i) { return bar->child(i); };
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(button(i)) << i;
        EXPECT_EQ(button(i)->role(), QAccessible::PageTab);
        EXPECT_EQ(bar->indexOfChild(button(i)), i);
        EXPECT_EQ(button(i)->parent(), bar);
        EXPECT_EQ(button(i)->state().checked, i == 0) << i;
        EXPECT_EQ(button(i)->state().selected, i == 0) << i;
        const QRect r = f.bar->ButtonRect(i);
        EXPECT_EQ(button(i)->rect(), QRect(f.bar->mapToGlobal(r.topLeft()), r.size()));
    }
    EXPECT_EQ(button(1)->text(QAccessible::Name), QString::fromUtf8("收藏夹"));
    // The pages stay in the tree after the buttons, so their controls can be found.
    for (QWidget* page : f.pages) {
        bool found = false;
        for (int i = 3; i < bar->childCount(); ++i) found |= bar->child(i)->object() == page;
        EXPECT_TRUE(found);
    }

    // A screen reader's press opens the page, as a click does.
    QAccessibleActionInterface* action = button(2)->actionInterface();
    ASSERT_TRUE(action);
    ASSERT_TRUE(action->actionNames().contains(QAccessibleActionInterface::pressAction()));
    action->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(f.bar->GetSelectedItem(), 2);
    EXPECT_TRUE(f.pages[2]->isVisible());
    EXPECT_TRUE(button(2)->state().checked);
    EXPECT_FALSE(button(0)->state().checked);
    // The button under a point is found where it is drawn now.
    const QRect r = f.bar->ButtonRect(0);
    EXPECT_EQ(bar->childAt(f.bar->mapToGlobal(r.center()).x(), f.bar->mapToGlobal(r.center()).y()),
              button(0));
}

TEST(PanelBarCtrl, DarkThemeDrawsWithThePaletteNotFixedGreys) {
    PanelFixture f;
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0, 0, 0));
    dark.setColor(QPalette::WindowText, QColor(255, 255, 255));
    dark.setColor(QPalette::Button, QColor(20, 20, 60));
    dark.setColor(QPalette::ButtonText, QColor(255, 255, 0));
    dark.setColor(QPalette::Highlight, QColor(0, 160, 255));
    dark.setColor(QPalette::HighlightedText, QColor(0, 0, 0));
    f.bar->setPalette(dark);
    EXPECT_EQ(PixelAt(*f.bar, 115, 10), qRgb(20, 20, 60) & 0x00FFFFFF);
    // The frame is drawn in the text colour, so it shows on the dark window.
    EXPECT_EQ(PixelAt(*f.bar, 119, 270), qRgb(255, 255, 255) & 0x00FFFFFF);
    SendMouse(f.bar, QEvent::MouseMove, QPoint(60, 270), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(PixelAt(*f.bar, 115, 270), qRgb(0, 160, 255) & 0x00FFFFFF);
    // The title is drawn in the theme's button text.
    const QImage shot = f.bar->grab(f.bar->ButtonRect(2)).toImage();
    bool titleSeen = false;
    for (int y = 0; y < shot.height() && !titleSeen; ++y)
        for (int x = 20; x < shot.width() - 20 && !titleSeen; ++x)
            titleSeen = (shot.pixel(x, y) & 0x00FFFFFF) == (qRgb(255, 255, 0) & 0x00FFFFFF);
    EXPECT_TRUE(titleSeen);
}

// ---------------------------------------------------------------------------------

// A strip of four 17-pixel images, each one colour with a mask-coloured corner.
QImage FourStateStrip() {
    QImage strip(68, 17, QImage::Format_RGB32);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    QPainter p(&strip);
    for (int i = 0; i < 4; ++i) {
        p.fillRect(17 * i, 0, 17, 17, colours[i]);
        p.fillRect(17 * i, 0, 2, 2, QColor(255, 0, 255));
    }
    p.end();
    return strip;
}

QRgb Colour(Qt::GlobalColor c) {
    return QColor(c).rgb() & 0x00FFFFFF;
}

TEST(HoverButton, StripGivesAButtonOfOneImage) {
    App();
    QWidget parent;
    CHoverButton button(&parent);
    button.move(40, 30);
    ASSERT_TRUE(button.LoadStateImages(FourStateStrip(), 17, QColor(255, 0, 255)));
    EXPECT_EQ(button.size(), QSize(17, 17));
    EXPECT_EQ(button.pos(), QPoint(40, 30));
    EXPECT_EQ(button.sizeHint(), QSize(17, 17));
    EXPECT_EQ(button.StateImages().Count(), 4);
    const QImage idle = button.StateImages().Pixmap(0).toImage();
    EXPECT_EQ(qAlpha(idle.pixel(0, 0)), 0);  // mask colour is transparent
    EXPECT_EQ(qAlpha(idle.pixel(5, 5)), 255);

    EXPECT_FALSE(button.LoadStateImages(QImage(), 17, Qt::magenta));
    EXPECT_FALSE(button.LoadStateImages(FourStateStrip(), 0, Qt::magenta));
    EXPECT_FALSE(button.LoadStateImages(QString("/nonexistent/strip.png"), 17, Qt::magenta));
}

TEST(HoverButton, LoadsTheStripFromAFile) {
    App();
    test::TempDir dir;
    const QString path = QString::fromStdString(dir / "strip.png");
    ASSERT_TRUE(FourStateStrip().save(path));
    CHoverButton button;
    ASSERT_TRUE(button.LoadStateImages(path, 17, QColor(255, 0, 255)));
    EXPECT_EQ(button.size(), QSize(17, 17));
}

TEST(HoverButton, ShowsTheImageOfItsState) {
    App();
    QWidget parent;
    parent.resize(100, 100);
    CHoverButton* button = new CHoverButton(&parent);
    button->move(10, 10);
    ASSERT_TRUE(button->LoadStateImages(FourStateStrip(), 17, QColor(255, 0, 255)));
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    EXPECT_EQ(PixelAt(*button, 8, 8), Colour(Qt::red));

    QTest::mouseMove(button, QPoint(8, 8));
    EXPECT_TRUE(button->IsHovering());
    EXPECT_EQ(button->CurrentImage(), 1);
    EXPECT_EQ(PixelAt(*button, 8, 8), Colour(Qt::green));

    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, 8));
    EXPECT_EQ(PixelAt(*button, 8, 8), Colour(Qt::blue));
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, 8));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(PixelAt(*button, 8, 8), Colour(Qt::green));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->IsHovering());
    EXPECT_EQ(PixelAt(*button, 8, 8), Colour(Qt::red));

    button->setEnabled(false);
    EXPECT_EQ(PixelAt(*button, 8, 8), Colour(Qt::yellow));
}

TEST(HoverButton, ScreenReadersSeeAPushButtonPressedWhileDown) {
    App();
    CHoverButton button;
    ASSERT_TRUE(button.LoadStateImages(FourStateStrip(), 17, QColor(255, 0, 255)));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&button);
    ASSERT_TRUE(iface);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    EXPECT_FALSE(iface->state().pressed);
    button.setDown(true);
    EXPECT_TRUE(iface->state().pressed);
}

TEST(HoverButton, FocusIsDrawnOverTheImage) {
    App();
    QWidget parent;
    parent.resize(100, 100);
    CHoverButton* button = new CHoverButton(&parent);
    ASSERT_TRUE(button->LoadStateImages(FourStateStrip(), 17, QColor(255, 0, 255)));
    parent.show();
    QApplication::setActiveWindow(&parent);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent));
    const QImage before = button->grab().toImage();
    // Focus that came by the keyboard is the focus that must be seen.
    QTest::keyClick(&parent, Qt::Key_Tab);
    ASSERT_TRUE(button->hasFocus());
    EXPECT_NE(button->grab().toImage(), before);
}

TEST(HoverButton, ShortStripDrawsNothingForAMissingState) {
    App();
    QImage strip(300, 20, QImage::Format_RGB32);
    strip.fill(Qt::red);
    CHoverButton button;
    ASSERT_TRUE(button.LoadStateImages(strip, 100, QColor(255, 0, 255)));
    EXPECT_EQ(button.size(), QSize(100, 20));
    button.setEnabled(false);
    EXPECT_EQ(button.CurrentImage(), 3);
    EXPECT_NE(PixelAt(button, 50, 10), Colour(Qt::red));
}

}  // namespace
}  // namespace orb
