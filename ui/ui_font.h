// SPDX-License-Identifier: GPL-3.0-or-later
// The program's text font: 宋体 where it exists, else the nearest CJK serif face.
#pragma once

#include <QFont>

namespace orb {

// pixelHeight is the character height (the Windows font height -pixelHeight).
QFont SongtiFont(int pixelHeight);

}  // namespace orb
