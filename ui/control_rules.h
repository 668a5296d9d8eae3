// SPDX-License-Identifier: GPL-3.0-or-later
// Geometry and state rules of the pane controls (page tab control, pane splitter,
// panel bar, hover button). No Qt here: the widgets call these, and the tests check
// them without a display.
#pragma once

#include <cstdint>
#include <vector>

namespace orb {

// A window rectangle in the Windows manner: right and bottom lie just outside it.
struct UiRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    // Integer centre, as the window rectangles of the bars are centred.
    int CenterX() const { return (left + right) / 2; }
    int CenterY() const { return (top + bottom) / 2; }
    UiRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    bool operator==(const UiRect&) const = default;
};

struct UiPoint {
    int x = 0;
    int y = 0;
};

// ---------------------------------------------------------------------------------
// Page tab control

// Border kept between the control's edge and the page area, and between the page
// area and the tab strip.
inline constexpr int kTabPageMargin = 2;

// The page area of a tab control of the given size whose tab strip is stripHeight
// high, along the top or the bottom edge. Never negative in size.
UiRect TabDisplayRect(int width, int height, int stripHeight, bool stripAtBottom);

// ---------------------------------------------------------------------------------
// Pane splitter

// The bar's orientation, with the values the panes pass to BindPanes.
inline constexpr int kSplitSideways = 1;  // between a left and a right control
inline constexpr int kSplitUpDown = 2;    // between an upper and a lower control

// The notification a splitter sends its parent after a completed move.
inline constexpr int kPaneSplitterMoved = 1025;

// Everything a splitter drag decides: where the tracker may go and where the two
// controls and the bar end up. Positions are in the parent's client coordinates.
class CSplitterTrack {
public:
    struct Placement {
        UiRect first;
        UiRect second;
        UiRect bar;
        int delta = 0;
    };

    void Bind(int minBefore, int minAfter, int orientation);
    // A splitter that was never bound (or got an unknown orientation) cannot be dragged.
    bool IsBound() const;
    int Orientation() const { return orientation_; }
    bool IsTracking() const { return tracking_; }
    int TrackerPosition() const { return tracker_; }
    int StartPosition() const { return start_; }

    // Button pressed on the bar: the tracker starts on the bar's centre line.
    // Returns false (and stays idle) when the splitter is not bound.
    bool Begin(const UiRect& bar);
    // Pointer moved while tracking. The tracker follows only inside the band the two
    // controls allow; returns true when it moved to the pointer.
    bool Move(UiPoint pointer, const UiRect& first, const UiRect& second);
    // Button released: the first control's far edge and the second control's near
    // edge move by the tracker's travel, and the bar is centred on the tracker.
    Placement End(const UiRect& first, const UiRect& second, const UiRect& bar);
    // Where the tracker is drawn: the bar moved so its centre line is on the tracker.
    UiRect TrackerRect(const UiRect& bar) const;

private:
    int minBefore_ = 0;
    int minAfter_ = 0;
    int orientation_ = 0;
    bool tracking_ = false;
    int tracker_ = 0;
    int start_ = 0;
};

// ---------------------------------------------------------------------------------
// Panel bar

inline constexpr int kPanelButtonHeight = 20;
// How long a drag must rest on a page's button before that page opens.
inline constexpr uint32_t kPanelDragOpenDelayMs = 500;

// Button of page `index` in a bar of width x height with `count` pages and page
// `selected` open: the buttons up to the open page stack at the top, the others at
// the bottom.
UiRect PanelButtonRect(int index, int selected, int count, int width, int height);
// The window of page `index`: the space between the top and bottom buttons when
// that page is open. Each page keeps its own rectangle whether shown or not.
UiRect PanelPageRect(int index, int count, int width, int height);
// The first button containing the point, or -1.
int PanelHitTest(UiPoint point, int selected, int count, int width, int height);

// Decides, on each drag-over, which button is highlighted and when a resting drag
// opens a page. Ticks are milliseconds from any steady clock; they may wrap.
class CPanelDropTarget {
public:
    struct Outcome {
        bool moveEffect = false;  // the drop effect to report: move, or none
        int selectItem = -1;      // page to open now, -1 for none
    };

    // `hit` is the button under the pointer (-1 for none), `selected` the open page.
    Outcome DragOver(int hit, int selected, uint32_t now);
    // The drag left the bar or was dropped on it.
    void DragLeave();

    // The button highlighted for the drag, -1 for none.
    int DragHoverItem() const { return dragHover_; }
    // Milliseconds until a drag resting where it is opens the highlighted page, or -1
    // when no page is pending. The bar uses it to look again while no event comes.
    int MsUntilOpen(uint32_t now) const;

private:
    int lastItem_ = -1;
    uint32_t tick_ = 0;
    int dragHover_ = -1;
};

// ---------------------------------------------------------------------------------
// Drag hover expansion
// Expands a tree item a drag rests on for more than half a second, once. Items are
// opaque keys; times are milliseconds of a steady clock.
class CHoverExpand {
public:
    static constexpr uint64_t kDelayMs = 500;
    // The drag is over item (nullptr: none); expandable tells whether it may be
    // expanded. True once, when it has rested there for more than the delay.
    bool Over(const void* item, bool expandable, uint64_t now);
    // Milliseconds until a resting drag expands the item, -1 when nothing is pending.
    int64_t MsUntilExpand(uint64_t now) const;
    // The drag left every target: the next one starts a new wait.
    void Clear();

private:
    const void* m_item = nullptr;
    bool m_expandable = false;
    bool m_done = false;
    uint64_t m_since = 0;
};

// Hover button

// Index of the state image: 0 idle, 1 mouse resting over it, 2 pressed, 3 disabled.
int HoverButtonImage(bool pressed, bool disabled, bool hover);

// The images a horizontal strip holds when cut into pieces imageWidth wide and as
// high as the strip, left to right; a remainder narrower than one image is dropped.
std::vector<UiRect> StripImageRects(int stripWidth, int stripHeight, int imageWidth);

}  // namespace orb
