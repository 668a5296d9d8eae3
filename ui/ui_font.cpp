// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ui_font.h"

#include <QStringList>

namespace orb {

QFont SongtiFont(int pixelHeight) {
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                 QStringLiteral("Noto Serif CJK SC"),
                                 QStringLiteral("AR PL UMing CN")});
    font.setPixelSize(pixelHeight);
    return font;
}

}  // namespace orb
