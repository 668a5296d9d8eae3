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

    explicit COrbDoc(QObject* parent = nullptr);
    ~COrbDoc() override;

    // Owner of the document's message boxes.
    void SetMainWindow(QWidget* window) { m_window = window; }
    void SetAnnotationEditor(IAnnotationEditor* editor) { m_editor = editor; }
    // Replaces the default message box "注释文件保存失败!" (tests, other front ends).
    void SetSaveFailureHandler(SaveFailureHandler handler) { m_saveFailed = std::move(handler); }

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
    void ReportSaveFailure(const QString& path, const QString& reason, bool now);
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
    // A deferred failure message is waiting: later failures add nothing to it.
    bool m_failureQueued = false;
    // The last failed write was shown and the table has not changed since.
    bool m_failureShown = false;
};

}  // namespace orb
