// SPDX-License-Identifier: GPL-3.0-or-later
// Marks drags started in this process. Blocks such as FAVSOFTDRAGDATA carry paths
// that the receiver acts on, so a pane accepts them only from a drag that this
// very process started: the source adds the private MIME format
// "application/x-kelvane-drag-origin" holding its process id as decimal text, and
// a receiver checks it with IsDragFromThisProcess before reading any block.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QMimeData>
#include <QString>

namespace orb {

inline constexpr const char* kDragOriginFormat = "application/x-kelvane-drag-origin";

inline QByteArray DragOriginToken() {
    return QByteArray::number(QCoreApplication::applicationPid());
}

inline void MarkDragFromThisProcess(QMimeData* mime) {
    if (mime) mime->setData(QString::fromLatin1(kDragOriginFormat), DragOriginToken());
}

inline bool IsDragFromThisProcess(const QMimeData* mime) {
    const QString format = QString::fromLatin1(kDragOriginFormat);
    return mime && mime->hasFormat(format) && mime->data(format) == DragOriginToken();
}

}  // namespace orb
