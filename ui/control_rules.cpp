// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/control_rules.h"

#include <algorithm>

namespace orb {

UiRect TabDisplayRect(int width, int height, int stripHeight, bool stripAtBottom) {
    UiRect r{kTabPageMargin, kTabPageMargin, width - kTabPageMargin, height - kTabPageMargin};
    if (stripAtBottom) {
        r.bottom -= stripHeight;
    } else {
        r.top += stripHeight;
    }
    // A control smaller than its strip still gives a valid (empty) area.
    r.right = std::max(r.right, r.left);
    r.bottom = std::max(r.bottom, r.top);
    return r;
}

// ---------------------------------------------------------------------------------

void CSplitterTrack::Bind(int minBefore, int minAfter, int orientation) {
    minBefore_ = minBefore;
    minAfter_ = minAfter;
    orientation_ = orientation;
}

bool CSplitterTrack::IsBound() const {
    return orientation_ == kSplitSideways || orientation_ == kSplitUpDown;
}

bool CSplitterTrack::Begin(const UiRect& bar) {
    if (!IsBound()) return false;
    tracking_ = true;
    tracker_ = orientation_ == kSplitSideways ? bar.CenterX() : bar.CenterY();
    start_ = tracker_;
    return true;
}

bool CSplitterTrack::Move(UiPoint pointer, const UiRect& first, const UiRect& second) {
    if (!tracking_) return false;
    int pos = 0;
    int low = 0;
    int high = 0;
    if (orientation_ == kSplitSideways) {
        pos = pointer.x;
        low = first.left + minBefore_;
        high = second.right - minAfter_;
    } else {
        pos = pointer.y;
        low = first.top + minBefore_;
        high = second.bottom - minAfter_;
    }
    if (pos < low || pos > high) return false;
    tracker_ = pos;
    return true;
}

CSplitterTrack::Placement CSplitterTrack::End(const UiRect& first, const UiRect& second,
                                              const UiRect& bar) {
    Placement p{first, second, bar, 0};
    if (!tracking_) return p;
    tracking_ = false;
    p.delta = tracker_ - start_;
    if (orientation_ == kSplitUpDown) {
        p.first.bottom += p.delta;
        p.second.top += p.delta;
    } else {
        p.first.right += p.delta;
        p.second.left += p.delta;
    }
    p.bar = TrackerRect(bar);
    return p;
}

UiRect CSplitterTrack::TrackerRect(const UiRect& bar) const {
    if (orientation_ == kSplitSideways) return bar.Offset(tracker_ - bar.CenterX(), 0);
    return bar.Offset(0, tracker_ - bar.CenterY());
}

// ---------------------------------------------------------------------------------

UiRect PanelButtonRect(int index, int selected, int count, int width, int height) {
    int top = index <= selected ? kPanelButtonHeight * index
                                : height + kPanelButtonHeight * (index - count);
    return {0, top, width, top + kPanelButtonHeight};
}

UiRect PanelPageRect(int index, int count, int width, int height) {
    int top = kPanelButtonHeight * index + kPanelButtonHeight;
    // A bar too short for its buttons leaves the page empty rather than inverted.
    int pageHeight = std::max(0, height - kPanelButtonHeight * count);
    return {0, top, width, top + pageHeight};
}

int PanelHitTest(UiPoint point, int selected, int count, int width, int height) {
    for (int i = 0; i < count; ++i) {
        if (PanelButtonRect(i, selected, count, width, height).Contains(point.x, point.y)) {
            return i;
        }
    }
    return -1;
}

CPanelDropTarget::Outcome CPanelDropTarget::DragOver(int hit, int selected, uint32_t now) {
    Outcome out;
    if (hit == selected) {
        // The open page's button takes nothing. Its highlight is dropped too, so a
        // button the pointer has left does not stay lit, and coming back to another
        // button starts its wait afresh.
        lastItem_ = hit;
        dragHover_ = -1;
        return out;
    }
    if (hit != lastItem_) {
        lastItem_ = hit;
        tick_ = now;
        dragHover_ = hit;
    }
    // Unsigned difference: correct across a wrap of the tick counter.
    if (now - tick_ > kPanelDragOpenDelayMs) {
        out.selectItem = hit;
        dragHover_ = -1;
    }
    out.moveEffect = hit != -1;
    return out;
}

void CPanelDropTarget::DragLeave() {
    dragHover_ = -1;
    lastItem_ = -1;
}

int CPanelDropTarget::MsUntilOpen(uint32_t now) const {
    if (dragHover_ == -1) return -1;
    uint32_t waited = now - tick_;
    if (waited > kPanelDragOpenDelayMs) return 0;
    return static_cast<int>(kPanelDragOpenDelayMs - waited + 1);
}

// ---------------------------------------------------------------------------------

int HoverButtonImage(bool pressed, bool disabled, bool hover) {
    if (pressed) return 2;
    if (disabled) return 3;
    return hover ? 1 : 0;
}

std::vector<UiRect> StripImageRects(int stripWidth, int stripHeight, int imageWidth) {
    std::vector<UiRect> rects;
    if (imageWidth <= 0 || stripHeight <= 0 || stripWidth < imageWidth) return rects;
    int count = stripWidth / imageWidth;
    rects.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        rects.push_back({i * imageWidth, 0, (i + 1) * imageWidth, stripHeight});
    }
    return rects;
}

bool CHoverExpand::Over(const void* item, bool expandable, uint64_t now) {
    if (item != m_item) {
        m_item = item;
        m_expandable = expandable;
        m_done = false;
        m_since = now;
        return false;
    }
    if (!m_item || !m_expandable || m_done || now - m_since <= kDelayMs) return false;
    m_done = true;
    return true;
}

int64_t CHoverExpand::MsUntilExpand(uint64_t now) const {
    if (!m_item || !m_expandable || m_done) return -1;
    const uint64_t waited = now - m_since;
    // One past the delay: the rule is "more than" half a second.
    return waited > kDelayMs ? 0 : static_cast<int64_t>(kDelayMs - waited + 1);
}

void CHoverExpand::Clear() {
    m_item = nullptr;
    m_expandable = false;
    m_done = false;
    m_since = 0;
}

}  // namespace orb
