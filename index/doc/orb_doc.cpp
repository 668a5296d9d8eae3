// SPDX-License-Identifier: GPL-3.0-or-later
// The index document: opening, closing, the disc's drive and annotation edits.
#include "index/doc/orb_doc.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "index/index_format.h"
#include "library/store/disc_finder.h"
#include "platform/drives.h"
#include "platform/error_text.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr const char* kIndexMovedText = "光盘索引已被改名、移动或删除，注释没有保存!";

bool EndsWithNoCase(const std::string& path, std::string_view ext) {
    return path.size() >= ext.size() &&
           EqualsNoCaseAZ(std::string_view(path).substr(path.size() - ext.size()), ext);
}

QString HostToQString(const std::string& hostPath) {
    return QFile::decodeName(QByteArray::fromStdString(hostPath));
}
}  // namespace

MovedSaveOffer MakeMovedSaveOffer(const std::string& oldPath, const std::string& knownPath,
                                  const std::vector<std::string>& found) {
    MovedSaveOffer offer;
    offer.oldPath = oldPath;
    // Copies of one disc have one header: only a single answer is offered.
    if (!found.empty() && ((!knownPath.empty() && found.front() == knownPath) || found.size() == 1))
        offer.newIndex = found.front();
    return offer;
}

QString MovedSaveQuestion(const MovedSaveOffer& offer) {
    QString text = QString::fromUtf8(kIndexMovedText) + '\n' + HostToQString(offer.oldPath) + '\n';
    if (offer.newIndex.empty())
        return text +
               QStringLiteral("\n没有找到该光盘现在的索引文件。要把注释另存到您选择的文件吗？");
    return text + QStringLiteral("\n该光盘的索引现在是：\n") + HostToQString(offer.newIndex) +
           QStringLiteral("\n\n要把注释保存到它旁边，还是另存到您选择的文件？");
}

PickedNotesFile JudgePickedNotesFile(const std::string& picked, const IndexHeader& disc) {
    PickedNotesFile verdict;
    if (picked.empty() || picked.back() == '/') {
        verdict.reason = QStringLiteral("没有选择文件。");
        return verdict;
    }
    if (EndsWithNoCase(picked, ".orb")) {
        verdict.reason = QStringLiteral("不能把注释保存到光盘索引文件里。");
        return verdict;
    }
    if (!EndsWithNoCase(picked, ".orc")) {
        verdict.kind = PickedNotesFile::OwnFile;
        return verdict;
    }
    // A companion's index has its name with the last letter "b" (either case,
    // since a share may not tell case apart).
    const std::string stem = picked.substr(0, picked.size() - 1);
    for (char last : {'b', 'B'}) {
        const std::string index = stem + last;
        struct stat st {};
        if (::stat(index.c_str(), &st) != 0) continue;
        IndexHeader there;
        if (ProbeIndexHeader(index, there) && SameDisc(there, disc)) {
            verdict.kind = PickedNotesFile::BesideIndex;
            verdict.indexPath = index;
            return verdict;
        }
        verdict.reason = QStringLiteral("该文件属于另一张光盘的索引，不能保存到这里。");
        return verdict;
    }
    verdict.reason =
        QStringLiteral("这里没有该光盘的索引：以后同名的光盘会继承这些注释。请换一个文件名。");
    return verdict;
}

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
                         err && !m_index.IndexMoved() ? ErrorText(err).c_str()
                                                      : m_index.LastError().c_str());
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
    return Save(reportNow, false);
}

bool COrbDoc::Save(bool reportNow, bool leaving) {
    if (!m_index.IsOpen() || !m_index.AnnotationsChanged()) return true;
    errno = 0;
    if (m_index.SaveAnnotationsNow()) return true;
    const int err = errno;
    if (m_index.IndexMoved()) {
        if (m_movedAsking) return false;
        // The index closes next: asked now, or the notes are gone.
        if (reportNow || leaving) return OfferMovedSave(leaving);
        if (m_failureShown) return false;
        // Not from inside a view handler: from the event loop, saving again then.
        m_movedAsking = true;
        QTimer::singleShot(0, this, [this] {
            m_movedAsking = false;
            Save(true, false);
        });
        return false;
    }
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
    Save(false, true);
}

MovedSaveChoice COrbDoc::AskMovedSave(const MovedSaveOffer& offer) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), MovedSaveQuestion(offer),
                    QMessageBox::NoButton, m_window);
    QPushButton* beside = offer.newIndex.empty() ? nullptr
                                                 : box.addButton(QStringLiteral("保存到新位置"),
                                                                 QMessageBox::AcceptRole);
    QPushButton* pick = box.addButton(QStringLiteral("另存为..."), QMessageBox::ActionRole);
    QPushButton* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(beside ? beside : pick);
    box.setEscapeButton(cancel);
    box.exec();
    MovedSaveChoice choice;
    if (beside && box.clickedButton() == beside) {
        choice.kind = MovedSaveChoice::BesideNewIndex;
    } else if (box.clickedButton() == pick) {
        const std::string near = offer.newIndex.empty() ? offer.oldPath : offer.newIndex;
        const QString suggested =
            HostToQString(near.substr(0, near.size() - std::min<size_t>(near.size(), 4))) +
            QStringLiteral("-注释");
        const QString file = QFileDialog::getSaveFileName(
            m_window, QStringLiteral("保存注释"), suggested, QStringLiteral("所有文件 (*)"));
        if (!file.isEmpty()) {
            choice.kind = MovedSaveChoice::PickedFile;
            choice.pickedFile = QFile::encodeName(file).toStdString();
        }
    }
    return choice;
}

bool COrbDoc::OfferMovedSave(bool leaving) {
    m_movedAsking = true;
    const std::string known = m_index.MovedIndexPath();
    const std::string root = m_libraryDir ? m_libraryDir() : std::string();
    const MovedSaveOffer offer = MakeMovedSaveOffer(
        m_index.GetFilePath(), known, FindIndexesOfDisc(root, m_index.Header(), known));
    bool saved = false;
    std::string followTo;
    for (;;) {
        const MovedSaveChoice choice = m_askMoved ? m_askMoved(offer) : AskMovedSave(offer);
        std::string indexPath;
        if (choice.kind == MovedSaveChoice::BesideNewIndex && !offer.newIndex.empty()) {
            indexPath = offer.newIndex;
        } else if (choice.kind == MovedSaveChoice::PickedFile) {
            const PickedNotesFile picked =
                JudgePickedNotesFile(choice.pickedFile, m_index.Header());
            if (picked.kind == PickedNotesFile::Refused) {
                ReportSaveFailure(HostToQString(choice.pickedFile), picked.reason, true);
                continue;
            }
            indexPath = picked.indexPath;
        } else {
            break;
        }
        errno = 0;
        saved = indexPath.empty() ? m_index.SaveAnnotationsAs(choice.pickedFile)
                                  : m_index.SaveAnnotationsBeside(indexPath);
        if (saved) {
            followTo = indexPath;
            break;
        }
        const int err = errno;
        ReportSaveFailure(
            HostToQString(indexPath.empty() ? choice.pickedFile : CompanionPath(indexPath)),
            QString::fromStdString(err ? ErrorText(err) : m_index.LastError()), true);
    }
    m_movedAsking = false;
    // A cancelled question is not asked again until the notes change or the index
    // closes.
    m_failureShown = !saved;
    // The document follows its disc to the index the notes now lie beside.
    if (!leaving && !followTo.empty() && m_index.Open(followTo, OpenMode::ReadShareAll)) {
        SetPathName(followTo);
        emit updateAllViews();
    }
    return saved;
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
