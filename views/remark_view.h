// SPDX-License-Identifier: GPL-3.0-or-later
// CRemarkView: the annotation editor under the file list. It shows the annotation
// of the entry last clicked and hands its edited text to the document, which
// stores it as that entry's annotation.
#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <cstdint>
#include <string>

#include "index/doc/orb_doc.h"

namespace orb {

class CRemarkView : public QPlainTextEdit, public IAnnotationEditor {
    Q_OBJECT
public:
    explicit CRemarkView(COrbDoc& doc, QWidget* parent = nullptr);
    ~CRemarkView() override;

    // Shows the annotation of an entry (none: empty) and clears the document's
    // modified flag: showing is never an edit. The editor is read-only while it
    // shows no entry.
    void ShowAnnotation(int32_t entryId, const std::string* storedText);
    // Empties the editor and forgets the entry, without marking an edit: used when
    // the document changes, so an emptied view can never remove the annotation of
    // an entry of the next index that happens to have the same id.
    void ClearAnnotation();

    // IAnnotationEditor: the text with line ends as Windows stores them ("\r\n").
    std::string EditedStoredText() const override;
    int32_t ShownEntryId() const override { return m_entryId; }

private:
    COrbDoc& m_doc;
    // Whether the document still exists when this view goes away.
    QPointer<COrbDoc> m_docAlive;
    int32_t m_entryId = 0;
    bool m_showing = false;
};

// Line ends between the stored annotation ("\r\n", as written on Windows) and the
// editor ("\n").
QString AnnotationToEditor(const std::string& storedText);
std::string EditorToAnnotation(const QString& text);

}  // namespace orb
