// SPDX-License-Identifier: GPL-3.0-or-later
// The index document: opening, closing, the disc's drive and annotation edits.
#include "index/doc/orb_doc.h"

#include <QFileInfo>
#include <QMessageBox>

#include "platform/drives.h"
#include "platform/text.h"

namespace orb {

COrbDoc::COrbDoc(QObject* parent) : QObject(parent) {}

COrbDoc::~COrbDoc() {
    // The reader writes a changed companion when it closes; an edit still in the
    // editor belongs to it too.
    if (m_index.IsOpen()) CommitAnnotationEdit();
    m_index.Close();
}

void COrbDoc::SetTitle(const QString& title) {
    if (title == m_title) return;
    m_title = title;
    emit titleChanged(m_title);
}

void COrbDoc::SetPathName(const std::string& hostPath) {
    m_pathName = hostPath;
    SetTitle(QFileInfo(QString::fromStdString(hostPath)).fileName());
    emit pathOpened(QString::fromStdString(hostPath));
}

bool COrbDoc::OnNewDocument() {
    m_pathName.clear();
    m_modified = false;
    m_discDrive.clear();
    SetTitle(QString::fromUtf8(kEmptyTitle));
    return true;
}

bool COrbDoc::OnOpenDocument(const std::string& hostPath) {
    CommitAnnotationEdit();
    const int opened = m_index.Open(hostPath, OpenMode::ReadShareAll);
    if (opened) {
        // The recorded path must be in place before the views reread.
        m_pathName = hostPath;
    }
    LocateDisc();
    emit updateAllViews();
    if (!opened) {
        OnNewDocument();
        QMessageBox::critical(m_window, QStringLiteral("提示"), QString::fromUtf8(kOpenFailed));
        return false;
    }
    SetPathName(hostPath);
    return true;
}

bool COrbDoc::SaveModified() {
    if (m_index.IsOpen()) CommitAnnotationEdit();
    m_modified = false;
    return true;
}

int COrbDoc::OpenIndex(const std::string& hostPath, int notify) {
    CommitAnnotationEdit();
    if (!m_index.Open(hostPath, OpenMode::ReadShareAll)) return 0;
    SetPathName(hostPath);
    if (notify) emit updateAllViews();
    return 1;
}

void COrbDoc::CloseIndex(int reset) {
    CommitAnnotationEdit();
    m_index.Close();
    if (reset) {
        OnNewDocument();
        emit updateAllViews();
    }
}

int COrbDoc::IsOpenIndexPath(const std::string& hostPath) const {
    if (!m_index.IsOpen()) return 0;
    return CompareNoCaseAZ(hostPath, m_index.GetFilePath()) == 0 ? 1 : 0;
}

void COrbDoc::LocateDisc() {
    m_discDrive.clear();
    if (m_index.IsOpen()) {
        auto drives = Drives();
        for (const DriveInfo& drive : drives->ListCdDrives()) {
            if (drives->GetDriveType(drive.root) != DRIVE_CDROM) continue;
            if (m_index.DriveHoldsDisc(drive.root)) {
                m_discDrive = drive.root;
                break;
            }
        }
    }
    m_locationText = m_discDrive.empty()
                         ? QString::fromUtf8(kDiscNotFound)
                         : QString::fromUtf8(kDiscInDrive).arg(QString::fromStdString(m_discDrive));
    emit discLocationChanged(m_locationText);
}

void COrbDoc::CommitAnnotationEdit() {
    if (!m_modified) return;
    if (m_editor && m_index.IsOpen()) {
        const int32_t id = m_editor->ShownEntryId();
        if (id != 0) m_index.SetAnnotation(id, m_editor->EditedStoredText());
    }
    m_modified = false;
}

}  // namespace orb
