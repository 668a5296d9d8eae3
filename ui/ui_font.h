// SPDX-License-Identifier: GPL-3.0-or-later
// The program's text font: one sans CJK family throughout, at the desktop's size.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace orb {

// The family for all of the program's text: Noto Sans CJK SC, else WenQuanYi Micro
// Hei, where installed; otherwise the desktop's own default family.
QString ChooseUiFontFamily(const QStringList& installed, const QString& desktopFamily);
// Makes that family, at the size the desktop gives, the application font. Called
// once at start-up before any window is built.
void ApplyUiFont();
// The application font (see ApplyUiFont).
QFont UiFont();
// For callers drawn to Windows pixel heights: text up to 16 pixels (body text,
// captions in fixed-height bars) is the application font; a larger height (the
// cover's heading) is that font grown by the height's ratio to the 12-pixel body
// text, so its emphasis stays.
QFont SongtiFont(int pixelHeight);

}  // namespace orb
