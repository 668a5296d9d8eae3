// SPDX-License-Identifier: GPL-3.0-or-later
// The one text font of the program.
#include "ui/ui_font.h"

#include <QApplication>
#include <QFontDatabase>

namespace orb {

QString ChooseUiFontFamily(const QStringList& installed, const QString& desktopFamily) {
    for (const QString& wanted :
         {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")})
        if (installed.contains(wanted, Qt::CaseInsensitive)) return wanted;
    return desktopFamily;
}

void ApplyUiFont() {
    // The desktop's font carries its size (points or pixels); only the family goes.
    QFont font = QApplication::font();
    font.setFamilies(
        {ChooseUiFontFamily(QFontDatabase::families(), QApplication::font().family())});
    QApplication::setFont(font);
}

QFont UiFont() {
    return QApplication::font();
}

QFont SongtiFont(int pixelHeight) {
    QFont font = UiFont();
    if (pixelHeight <= 16) return font;
    const double ratio = pixelHeight / 12.0;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * ratio);
    else
        font.setPixelSize(qRound(font.pixelSize() * ratio));
    return font;
}

}  // namespace orb
