// SPDX-License-Identifier: GPL-3.0-or-later
// Which colours a custom-drawn control uses: its own fixed ones on a light desktop, the
// palette's on a dark or high-contrast one, where fixed light greys glare and the
// palette's text colour would vanish on them.
#pragma once

#include <QPalette>

namespace orb {

inline bool FollowsDarkTheme(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

}  // namespace orb
