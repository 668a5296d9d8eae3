// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/control_rules.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(TabDisplayRect, LeavesTheStripAndABorder) {
    EXPECT_EQ(TabDisplayRect(200, 100, 24, false), (UiRect{2, 26, 198, 98}));
    EXPECT_EQ(TabDisplayRect(200, 100, 24, true), (UiRect{2, 2, 198, 74}));
    // Smaller than the strip: an empty area, never an inverted one.
    UiRect tiny = TabDisplayRect(3, 10, 24, false);
    EXPECT_GE(tiny.Width(), 0);
    EXPECT_EQ(tiny.Height(), 0);
}

// Upper control from 0 to 200, bar 200..208, lower control 208..500, 100 pixels kept
// at either end: the tracker may go from y 100 to y 400.
struct UpDown {
    UiRect first{0, 0, 300, 200};
    UiRect bar{0, 200, 300, 208};
    UiRect second{0, 208, 300, 500};
    CSplitterTrack track;
    UpDown() { track.Bind(100, 100, kSplitUpDown); }
};

TEST(SplitterTrack, FollowsThePointerOnlyInsideTheBand) {
    UpDown s;
    ASSERT_TRUE(s.track.Begin(s.bar));
    EXPECT_EQ(s.track.TrackerPosition(), 204);
    EXPECT_EQ(s.track.StartPosition(), 204);
    struct Step {
        int y;
        bool follows;
        int tracker;
    };
    const Step steps[] = {
        {99, false, 204},  {100, true, 100},  {250, true, 250}, {400, true, 400},
        {401, false, 400}, {600, false, 400}, {-5, false, 400}, {300, true, 300},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(s.track.Move({150, step.y}, s.first, s.second), step.follows) << step.y;
        EXPECT_EQ(s.track.TrackerPosition(), step.tracker) << step.y;
    }
    // Only the coordinate across the bar counts.
    EXPECT_TRUE(s.track.Move({-1000, 120}, s.first, s.second));
    EXPECT_EQ(s.track.TrackerRect(s.bar), (UiRect{0, 116, 300, 124}));
}

TEST(SplitterTrack, ReleaseMovesBothEdgesAndCentresTheBar) {
    UpDown s;
    s.track.Begin(s.bar);
    s.track.Move({0, 300}, s.first, s.second);
    CSplitterTrack::Placement p = s.track.End(s.first, s.second, s.bar);
    EXPECT_FALSE(s.track.IsTracking());
    EXPECT_EQ(p.delta, 96);
    EXPECT_EQ(p.first, (UiRect{0, 0, 300, 296}));
    EXPECT_EQ(p.second, (UiRect{0, 304, 300, 500}));
    EXPECT_EQ(p.bar, (UiRect{0, 296, 300, 304}));
    EXPECT_EQ(p.bar.CenterY(), 300);
}

TEST(SplitterTrack, ReleaseWithoutMovingKeepsEverything) {
    UpDown s;
    s.track.Begin(s.bar);
    CSplitterTrack::Placement p = s.track.End(s.first, s.second, s.bar);
    EXPECT_EQ(p.delta, 0);
    EXPECT_EQ(p.first, s.first);
    EXPECT_EQ(p.second, s.second);
    EXPECT_EQ(p.bar, s.bar);
}

TEST(SplitterTrack, SidewaysUsesXAndTheRightEdge) {
    UiRect left{10, 0, 110, 50}, bar{110, 0, 115, 50}, right{115, 0, 400, 50};
    CSplitterTrack track;
    track.Bind(40, 60, kSplitSideways);
    ASSERT_TRUE(track.Begin(bar));
    EXPECT_EQ(track.TrackerPosition(), 112);
    EXPECT_FALSE(track.Move({49, 0}, left, right));  // left edge 10 + 40
    EXPECT_TRUE(track.Move({50, 999}, left, right));
    EXPECT_TRUE(track.Move({340, 0}, left, right));  // right edge 400 - 60
    EXPECT_FALSE(track.Move({341, 0}, left, right));
    CSplitterTrack::Placement p = track.End(left, right, bar);
    EXPECT_EQ(p.delta, 228);
    EXPECT_EQ(p.first, (UiRect{10, 0, 338, 50}));
    EXPECT_EQ(p.second, (UiRect{343, 0, 400, 50}));
    EXPECT_EQ(p.bar.CenterX(), 340);
    EXPECT_EQ(p.bar.Width(), 5);
}

TEST(SplitterTrack, UnboundBarCannotBeDragged) {
    for (int orientation : {0, 3, -1}) {
        CSplitterTrack track;
        track.Bind(0, 0, orientation);
        EXPECT_FALSE(track.Begin({0, 0, 10, 10}));
        EXPECT_FALSE(track.IsTracking());
        EXPECT_FALSE(track.Move({5, 5}, {0, 0, 100, 100}, {0, 0, 100, 100}));
    }
}

TEST(PanelGeometry, ThreePagesInA300PixelBar) {
    struct Case {
        int selected;
        int tops[3];
    };
    const Case cases[] = {{0, {0, 260, 280}}, {1, {0, 20, 280}}, {2, {0, 20, 40}}};
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(PanelButtonRect(i, c.selected, 3, 120, 300),
                      (UiRect{0, c.tops[i], 120, c.tops[i] + 20}))
                << "selected " << c.selected << " button " << i;
        }
    }
    // Each page keeps the rectangle of its own index.
    EXPECT_EQ(PanelPageRect(0, 3, 120, 300), (UiRect{0, 20, 120, 260}));
    EXPECT_EQ(PanelPageRect(1, 3, 120, 300), (UiRect{0, 40, 120, 280}));
    EXPECT_EQ(PanelPageRect(2, 3, 120, 300), (UiRect{0, 60, 120, 300}));
}

TEST(PanelGeometry, TooShortBarGivesEmptyPages) {
    EXPECT_EQ(PanelPageRect(1, 3, 50, 40), (UiRect{0, 40, 50, 40}));
}

TEST(PanelGeometry, HitTestFindsTheFirstButton) {
    struct Case {
        int x, y, selected, expected;
    };
    const Case cases[] = {
        {5, 0, 0, 0},    {5, 19, 0, 0},  {5, 20, 0, -1},  {5, 259, 0, -1},
        {5, 260, 0, 1},  {5, 279, 0, 1}, {5, 280, 0, 2},  {5, 299, 0, 2},
        {5, 300, 0, -1}, {119, 5, 0, 0}, {120, 5, 0, -1}, {-1, 5, 0, -1},
        {5, 45, 2, 2},   {5, 60, 2, -1}, {5, 25, 1, 1},   {5, 285, 1, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PanelHitTest({c.x, c.y}, c.selected, 3, 120, 300), c.expected)
            << c.x << "," << c.y << " selected " << c.selected;
    }
    EXPECT_EQ(PanelHitTest({5, 5}, -1, 0, 120, 300), -1);
    // Overlapping buttons in a bar too short for them: the lower index wins.
    EXPECT_EQ(PanelHitTest({5, 5}, 0, 3, 120, 30), 0);
}

TEST(PanelDropTarget, RestingOverAButtonOpensItsPageAfterHalfASecond) {
    CPanelDropTarget target;
    auto out = target.DragOver(1, 0, 1000);
    EXPECT_TRUE(out.moveEffect);
    EXPECT_EQ(out.selectItem, -1);
    EXPECT_EQ(target.DragHoverItem(), 1);
    EXPECT_EQ(target.MsUntilOpen(1000), 501);
    EXPECT_EQ(target.DragOver(1, 0, 1500).selectItem, -1);  // exactly 500 ms: not yet
    EXPECT_EQ(target.MsUntilOpen(1500), 1);
    out = target.DragOver(1, 0, 1501);
    EXPECT_EQ(out.selectItem, 1);
    EXPECT_TRUE(out.moveEffect);
    EXPECT_EQ(target.DragHoverItem(), -1);
    EXPECT_EQ(target.MsUntilOpen(1501), -1);
    // Now the open page's button: no effect, nothing more to open.
    out = target.DragOver(1, 1, 1600);
    EXPECT_FALSE(out.moveEffect);
    EXPECT_EQ(out.selectItem, -1);
}

TEST(PanelDropTarget, PassingOverAButtonDoesNotOpenIt) {
    CPanelDropTarget target;
    target.DragOver(2, 0, 0);
    EXPECT_EQ(target.DragHoverItem(), 2);
    auto out = target.DragOver(-1, 0, 300);  // on to the page area
    EXPECT_FALSE(out.moveEffect);
    EXPECT_EQ(target.DragHoverItem(), -1);
    EXPECT_EQ(target.MsUntilOpen(300), -1);
    EXPECT_EQ(target.DragOver(-1, 0, 2000).selectItem, -1);
    // Coming back starts a fresh wait.
    EXPECT_EQ(target.DragOver(2, 0, 2100).selectItem, -1);
    EXPECT_EQ(target.DragOver(2, 0, 2601).selectItem, 2);
}

TEST(PanelDropTarget, OpenPagesButtonShowsNoEffectAndDropsTheHighlight) {
    CPanelDropTarget target;
    target.DragOver(2, 0, 0);
    auto out = target.DragOver(0, 0, 100);
    EXPECT_FALSE(out.moveEffect);
    EXPECT_EQ(out.selectItem, -1);
    EXPECT_EQ(target.DragHoverItem(), -1);
    // Back on button 2 after a long stay on the open page's button: a new wait.
    EXPECT_EQ(target.DragOver(2, 0, 5000).selectItem, -1);
    EXPECT_EQ(target.DragHoverItem(), 2);
}

TEST(PanelDropTarget, LeavingForgetsTheButton) {
    CPanelDropTarget target;
    target.DragOver(1, 0, 0);
    target.DragLeave();
    EXPECT_EQ(target.DragHoverItem(), -1);
    // Entering again over the same button later must not open it at once.
    EXPECT_EQ(target.DragOver(1, 0, 10000).selectItem, -1);
    EXPECT_EQ(target.DragHoverItem(), 1);
}

TEST(PanelDropTarget, WaitSurvivesTheTickCounterWrapping) {
    CPanelDropTarget target;
    target.DragOver(1, 0, 0xFFFFFF00u);
    EXPECT_EQ(target.DragOver(1, 0, 0x00000010u).selectItem, -1);  // 272 ms later
    EXPECT_EQ(target.DragOver(1, 0, 0x00000200u).selectItem, 1);   // 768 ms later
}

TEST(HoverButtonImage, PressedBeatsDisabledBeatsHover) {
    struct Case {
        bool pressed, disabled, hover;
        int image;
    };
    const Case cases[] = {
        {false, false, false, 0}, {false, false, true, 1}, {true, false, false, 2},
        {true, false, true, 2},   {true, true, true, 2},   {false, true, false, 3},
        {false, true, true, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HoverButtonImage(c.pressed, c.disabled, c.hover), c.image)
            << c.pressed << c.disabled << c.hover;
    }
}

TEST(StripImageRects, CutsWholeImagesLeftToRight) {
    std::vector<UiRect> rects = StripImageRects(68, 17, 17);
    ASSERT_EQ(rects.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rects[i], (UiRect{17 * i, 0, 17 * i + 17, 17}));
    EXPECT_EQ(StripImageRects(300, 20, 100).size(), 3u);
    EXPECT_EQ(StripImageRects(75, 17, 17).size(), 4u);  // a narrow remainder is dropped
    EXPECT_TRUE(StripImageRects(16, 17, 17).empty());
    EXPECT_TRUE(StripImageRects(68, 17, 0).empty());
    EXPECT_TRUE(StripImageRects(68, 17, -17).empty());
    EXPECT_TRUE(StripImageRects(68, 0, 17).empty());
}

}  // namespace
TEST(HoverExpand, ExpandsAnExpandableItemAfterMoreThanHalfASecondOnce) {
    int a = 0, b = 0;
    CHoverExpand hover;
    EXPECT_FALSE(hover.Over(&a, true, 1000));
    EXPECT_EQ(hover.MsUntilExpand(1000), 501);
    EXPECT_FALSE(hover.Over(&a, true, 1500));  // exactly half a second is not more
    EXPECT_FALSE(hover.Over(&b, true, 1600));  // another item restarts the clock
    EXPECT_FALSE(hover.Over(&b, true, 2100));
    EXPECT_TRUE(hover.Over(&b, true, 2101));
    EXPECT_FALSE(hover.Over(&b, true, 3000));  // expanded once per stay
    EXPECT_EQ(hover.MsUntilExpand(3000), -1);
    EXPECT_FALSE(hover.Over(&a, false, 0));  // an item that cannot expand never does
    EXPECT_FALSE(hover.Over(&a, false, 5000));
    EXPECT_EQ(hover.MsUntilExpand(5000), -1);
    // The clock may wrap.
    hover.Clear();
    EXPECT_FALSE(hover.Over(&a, true, UINT64_MAX - 100));
    EXPECT_TRUE(hover.Over(&a, true, 401));
}

}  // namespace orb
