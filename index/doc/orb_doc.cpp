// SPDX-License-Identifier: GPL-3.0-or-later
// The index document: opening, closing, the disc's drive and annotation edits.
#include "index/doc/orb_doc.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "index/index_format.h"
#include "platform/drives.h"
#include "platform/error_text.h"
#include "platform/text.h"

namespace orb {

COrbDoc::COrbDoc(QObject* parent) : QObject(parent) {}

COrbDoc::~COrbDoc() {
    // An edit still in the editor belongs to the index too. No window is left to
    // show a failure, so it goes to standard error rather than nowhere.
    if (m_index.IsOpen()) {
        CommitEdit();
        errno = 0;
        if (!m_index.SaveAnnotationsNow()) {
            const int err = errno;
            std::fprintf(stderr, "%s %s: %s\n", kSaveFailed,
                         CompanionPath(m_index.GetFilePath()).c_str(),
                         err ? ErrorText(err).c_str() : m_index.LastError().c_str());
        }
    }
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
    SaveBeforeLeaving();
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
    if (m_index.IsOpen()) {
        CommitEdit();
        SaveAnnotations(true);
    }
    m_modified = false;
    return true;
}

bool COrbDoc::SaveAnnotations(bool reportNow) {
    if (!m_index.IsOpen() || !m_index.AnnotationsChanged()) return true;
    errno = 0;
    if (m_index.SaveAnnotationsNow()) return true;
    const int err = errno;
    // An unchanged table whose failure the user has seen is not shown again on
    // the way out (Ctrl+S, the next edit and the quit still show it).
    if (!reportNow && m_failureShown) return false;
    m_failureShown = true;
    const QString reason = QString::fromStdString(err ? ErrorText(err) : m_index.LastError());
    ReportSaveFailure(QString::fromStdString(CompanionPath(m_index.GetFilePath())), reason,
                      reportNow);
    return false;
}

void COrbDoc::SaveBeforeLeaving() {
    CommitEdit();
    SaveAnnotations(false);
}

void COrbDoc::ReportSaveFailure(const QString& path, const QString& reason, bool now) {
    if (now) {
        if (m_saveFailed) {
            m_saveFailed(path, reason);
        } else {
            QMessageBox::critical(m_window, QStringLiteral("提示"),
                                  QString::fromUtf8(kSaveFailed) + '\n' + path + '\n' + reason);
        }
        return;
    }
    // Commits happen inside view handlers (a selection change, a close): a modal
    // message there would run a nested event loop under them.
    if (m_failureQueued) return;
    m_failureQueued = true;
    QTimer::singleShot(0, this, [this, path, reason] {
        m_failureQueued = false;
        ReportSaveFailure(path, reason, true);
    });
}

int COrbDoc::OpenIndex(const std::string& hostPath, int notify) {
    SaveBeforeLeaving();
    if (!m_index.Open(hostPath, OpenMode::ReadShareAll)) return 0;
    SetPathName(hostPath);
    if (notify) emit updateAllViews();
    return 1;
}

void COrbDoc::CloseIndex(int reset) {
    SaveBeforeLeaving();
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
    if (CommitEdit()) SaveAnnotations(false);
}

bool COrbDoc::CommitEdit() {
    if (!m_modified) return false;
    m_modified = false;
    if (!m_editor || !m_index.IsOpen()) return false;
    const int32_t id = m_editor->ShownEntryId();
    if (id == 0) return false;
    m_index.SetAnnotation(id, m_editor->EditedStoredText());
    m_failureShown = false;
    return true;
}

}  // namespace orb
