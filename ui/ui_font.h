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
// Earlier callers asked for a Windows pixel height; every text now uses the one
// font at the desktop's size, so the height is ignored.
inline QFont SongtiFont(int /*pixelHeight*/) {
    return UiFont();
}

}  // namespace orb
