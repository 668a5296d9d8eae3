// SPDX-License-Identifier: GPL-3.0-or-later
// The annotation editor: shows an entry's annotation and marks edits on the document.
#include "views/remark_view.h"

#include "platform/text.h"
#include "ui/ui_font.h"

namespace orb {

QString AnnotationToEditor(const std::string& storedText) {
    QString text = QString::fromStdString(StoredToHost(storedText));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string EditorToAnnotation(const QString& text) {
    QString windows = text;
    windows.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    windows.replace(QChar('\n'), QStringLiteral("\r\n"));
    return HostToStored(windows.toStdString());
}

CRemarkView::CRemarkView(COrbDoc& doc, QWidget* parent)
    : QPlainTextEdit(parent), m_doc(doc), m_docAlive(&doc) {
    setObjectName(QStringLiteral("remarkView"));
    setAccessibleName(QStringLiteral("注释"));
    setAccessibleDescription(QStringLiteral("所选文件或文件夹的注释"));
    setFont(SongtiFont(24));
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    // Tab leaves the editor: a tab character would trap keyboard users here and end
    // up in the annotation.
    setTabChangesFocus(true);
    // Nothing typed may be lost: until an entry is shown there is none to keep it.
    setReadOnly(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing) m_doc.SetModifiedFlag(true);
    });
    m_doc.SetAnnotationEditor(this);
}

CRemarkView::~CRemarkView() {
    // A pending edit is stored before the document loses its editor; a document
    // destroyed first has stored it already.
    if (m_docAlive) {
        m_doc.CommitAnnotationEdit();
        m_doc.SetAnnotationEditor(nullptr);
    }
}

void CRemarkView::ShowAnnotation(int32_t entryId, const std::string* storedText) {
    m_entryId = entryId;
    setReadOnly(entryId == 0);
    m_showing = true;
    setPlainText(storedText ? AnnotationToEditor(*storedText) : QString());
    m_showing = false;
    m_doc.SetModifiedFlag(false);
}

void CRemarkView::ClearAnnotation() {
    m_entryId = 0;
    setReadOnly(true);
    m_showing = true;
    clear();
    m_showing = false;
    m_doc.SetModifiedFlag(false);
}

std::string CRemarkView::EditedStoredText() const {
    return EditorToAnnotation(toPlainText());
}

}  // namespace orb
