// SPDX-License-Identifier: GPL-3.0-or-later
// COrbDoc: the single document of the main window. It holds the one index the
// directory tree, the file list and the annotation view show, opens and closes it,
// keeps track of the CD drive holding the shown disc, and stores annotation edits.
// Views listen to updateAllViews() and reread what they show.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "index/index_reader.h"

class QWidget;

namespace orb {

// The annotation editor (the remark view) as the document sees it: the text being
// edited and the entry it belongs to.
class IAnnotationEditor {
public:
    virtual ~IAnnotationEditor() = default;
    // The edit window's text as stored bytes.
    virtual std::string EditedStoredText() const = 0;
    // The entry id whose annotation is shown; 0 when none.
    virtual int32_t ShownEntryId() const = 0;
};

// A save that found the open index renamed, moved or deleted by someone else
// offers to save the notes beside the disc's index where it is now, or into a
// file the user picks.
struct MovedSaveOffer {
    std::string oldPath;
    // The disc's index where it is now; empty when none or several were found.
    std::string newIndex;
};
struct MovedSaveChoice {
    enum Kind { BesideNewIndex, PickedFile, Cancel } kind = Cancel;
    std::string pickedFile;  // for PickedFile
};
// The offer for the indexes found (FindIndexesOfDisc, the present name first when
// known): the present name when the system knew it, else the library's only one.
MovedSaveOffer MakeMovedSaveOffer(const std::string& oldPath, const std::string& knownPath,
                                  const std::vector<std::string>& found);
// The question of the offer.
QString MovedSaveQuestion(const MovedSaveOffer& offer);

// What a file picked for the notes of a disc means. A companion name (".orc")
// belongs to the index beside it: that index must hold this disc, and one that is
// missing would hand the notes to the next disc of that name, so both are
// refused; an index itself is refused; any other name gets the notes as its own.
struct PickedNotesFile {
    enum Kind { BesideIndex, OwnFile, Refused } kind = Refused;
    std::string indexPath;  // for BesideIndex
    QString reason;         // for Refused
};
PickedNotesFile JudgePickedNotesFile(const std::string& picked, const IndexHeader& disc);

class COrbDoc : public QObject {
    Q_OBJECT

public:
    // Title of the empty document.
    static constexpr const char* kEmptyTitle = "欢迎使用";
    static constexpr const char* kAppTitle = "Kelvane光盘助手";
    static constexpr const char* kOpenFailed = "文件打开失败";
    static constexpr const char* kDiscInDrive = "光盘在驱动器%1中";
    static constexpr const char* kDiscNotFound = "在所有光盘驱动器中没有找到该光盘";
    static constexpr const char* kSaveFailed = "注释文件保存失败!";

    // Shows a companion that could not be written: its path and the system's reason.
    using SaveFailureHandler = std::function<void(const QString& path, const QString& reason)>;
    // Asks what to do with the notes of a disc whose index moved.
    using MovedSaveAsker = std::function<MovedSaveChoice(const MovedSaveOffer& offer)>;

    explicit COrbDoc(QObject* parent = nullptr);
    ~COrbDoc() override;

    // Owner of the document's message boxes.
    void SetMainWindow(QWidget* window) { m_window = window; }
    void SetAnnotationEditor(IAnnotationEditor* editor) { m_editor = editor; }
    // Replaces the default message box "注释文件保存失败!" (tests, other front ends).
    void SetSaveFailureHandler(SaveFailureHandler handler) { m_saveFailed = std::move(handler); }
    // Replaces the default question and file dialog for a moved index (tests).
    void SetMovedSaveAsker(MovedSaveAsker asker) { m_askMoved = std::move(asker); }
    // Where the library is, for finding a moved index by its header.
    void SetLibraryDirectoryProvider(std::function<std::string()> provider) {
        m_libraryDir = std::move(provider);
    }

    CIndexReader& Index() { return m_index; }
    const CIndexReader& Index() const { return m_index; }
    // Root of the drive holding the shown disc ("" when none).
    const std::string& DiscDrive() const { return m_discDrive; }

    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified = true) { m_modified = modified; }

    // Empties the document: title "欢迎使用", no disc drive. The index is not touched.
    bool OnNewDocument();
    // The framework's open: commit, open read-only, locate, update the views; on
    // failure empty the document and show "文件打开失败". On success the path is
    // recorded (title, recent files through pathOpened).
    bool OnOpenDocument(const std::string& hostPath);
    // Stores a pending annotation edit and writes a changed annotation table to the
    // companion, showing a failure at once; never refuses.
    bool SaveModified();
    // Writes a changed annotation table to the companion. A failure is shown (at
    // once, or from the event loop when deferred) and the table is kept, so a later
    // save can succeed. True when nothing is left unsaved.
    bool SaveAnnotations(bool reportNow);
    // Opens without any message; notify tells the views on success.
    int OpenIndex(const std::string& hostPath, int notify);
    // Closes the index; with reset also empties the document and tells the views.
    void CloseIndex(int reset);
    // 1 when an index is open and its path equals hostPath with A-Z folded.
    int IsOpenIndexPath(const std::string& hostPath) const;
    // Finds the CD drive holding the shown disc and reports it (discLocationChanged).
    void LocateDisc();
    // Stores the annotation editor's text as its entry's annotation when modified,
    // and writes the companion.
    void CommitAnnotationEdit();
    // Tells every view to reread what it shows.
    void UpdateAllViews() { emit updateAllViews(); }

    // "欢迎使用" or the open file's title (its name).
    QString Title() const { return m_title; }
    // The path the document was opened from ("" for the empty document).
    const std::string& PathName() const { return m_pathName; }
    // The status-bar text of the last LocateDisc.
    QString DiscLocationText() const { return m_locationText; }
    // ID_SYNC_INDEX is enabled exactly when an index is open.
    bool CanSyncIndex() const { return m_index.IsOpen() != 0; }

signals:
    void updateAllViews();
    void titleChanged(const QString& title);
    void discLocationChanged(const QString& text);
    // A file became the document through an open with a path: for the recent list.
    void pathOpened(const QString& hostPath);

private:
    // Moves the editor's text into the table; true when the table changed.
    bool CommitEdit();
    // Before the index is closed or replaced: its edits reach the companion, or the
    // failure is shown (the reader's own close drops what it cannot write).
    void SaveBeforeLeaving();
    bool Save(bool reportNow, bool leaving);
    void ReportSaveFailure(const QString& path, const QString& reason, bool now);
    // The index moved: asks where the notes go and saves them there. With leaving
    // the index is about to close, so the document does not follow it.
    bool OfferMovedSave(bool leaving);
    MovedSaveChoice AskMovedSave(const MovedSaveOffer& offer);
    void SetPathName(const std::string& hostPath);
    void SetTitle(const QString& title);

    CIndexReader m_index;
    std::string m_discDrive;
    bool m_modified = false;
    QString m_title = QString::fromUtf8(kEmptyTitle);
    std::string m_pathName;
    QString m_locationText;
    QWidget* m_window = nullptr;
    IAnnotationEditor* m_editor = nullptr;
    SaveFailureHandler m_saveFailed;
    MovedSaveAsker m_askMoved;
    std::function<std::string()> m_libraryDir;
    // A moved-index question is on screen or queued: no second one.
    bool m_movedAsking = false;
    // A deferred failure message is waiting: later failures add nothing to it.
    bool m_failureQueued = false;
    // The last failed write was shown and the table has not changed since.
    bool m_failureShown = false;
};

}  // namespace orb
