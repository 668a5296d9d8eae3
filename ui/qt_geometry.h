// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions between the rule rectangles and Qt's.
#pragma once

#include <QPoint>
#include <QRect>

#include "ui/control_rules.h"

namespace orb {

inline QRect ToQRect(const UiRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}
inline UiRect ToUiRect(const QRect& r) {
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}
inline UiPoint ToUiPoint(const QPoint& p) {
    return {p.x(), p.y()};
}

}  // namespace orb
