// SPDX-License-Identifier: GPL-3.0-or-later
// CNewDiscDlg "新建光盘映象": catalogues the disc in a CD drive (or, in folder mode,
// one folder or disc image file) into a category of the library with the disc
// scanner, showing its two phases, and adds the new disc to the library tree with
// its remark.
#pragma once

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <memory>
#include <string>

#include "library/newdisc/new_disc_rules.h"
#include "platform/messages.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orb {

class CDiscImage;
class CDriveComboBox;
class CDriveWatcher;
class CLibraryTree;
class CScanSession;
class IOrbShell;

class CNewDiscDlg : public QDialog {
    Q_OBJECT
public:
    // The shown message when no CD drive exists; it names the folder command.
    static const char* const kNoDriveText;
    // Milliseconds from the last drive change to the refresh of the drive list.
    static constexpr int kRefreshDelayMs = 1000;

    // tree: the library pane's tree (may be null: then nothing is inserted). A
    // non-empty folder selects folder mode: that folder is the one "drive"; a disc
    // image file there is read as the disc (its root readme.txt the remark).
    CNewDiscDlg(CLibraryTree* tree, IOrbShell& shell, QWidget* parent,
                const std::string& folder = std::string());
    ~CNewDiscDlg() override;

    // False, after showing kNoDriveText, when there is no CD drive at all.
    static bool CanRun(QWidget* parent);
    // Shows kNoDriveText and returns Rejected at once when drive mode has no drive;
    // otherwise runs the dialog modally.
    int exec() override;
    // The drive that just received the disc the dialog is opened for; taken when
    // the dialog shows (see DriveToPreselect).
    void PreselectDrive(const std::string& arrivedRoot) { m_arrivedRoot = arrivedRoot; }

    bool IsFolderMode() const { return !m_folder.root.empty(); }
    bool IsImageMode() const { return m_imageMode; }
    // True from a started scan until its final status arrived (also after a stop).
    bool ScanOutstanding() const;
    // The scanner's running flag.
    bool IsScanning() const;
    const std::string& SaveLocation() const { return m_saveLocation; }
    void SetSaveLocation(const std::string& location);
    // Position of the last chosen drive entry, -1 before the first choice.
    int SelectedDrivePosition() const { return m_selectedDrive; }
    // The index file of the scan now running or last started.
    const std::string& ScanOutputPath() const { return m_scanPath; }
    bool RefreshPending() const;

    CDriveComboBox* DriveList() const { return m_drives; }
    QComboBox* TextFileList() const { return m_textFiles; }
    QLineEdit* NameEdit() const { return m_nameEdit; }
    QLineEdit* LocationEdit() const { return m_locationEdit; }
    QPushButton* CreateButton() const { return m_createButton; }
    QPushButton* ExitButton() const { return m_exitButton; }
    QProgressBar* CollectBar() const { return m_collectBar; }
    QProgressBar* SaveBar() const { return m_saveBar; }
    QCheckBox* EjectCheck() const { return m_ejectCheck; }
    QCheckBox* RemarkCheck() const { return m_remarkCheck; }
    // The line about what the last scan could not read, its "详情" button and the
    // list that button shows.
    QLabel* UnreadableLabel() const { return m_unreadLabel; }
    QPushButton* UnreadableButton() const { return m_unreadButton; }
    QString UnreadableDetailsText() const { return m_unreadDetails; }
    // The line saying a scan finished with its counts, and "打开索引" beside it.
    QLabel* DoneLabel() const { return m_doneLabel; }
    QPushButton* OpenIndexButton() const { return m_openButton; }

public slots:
    // The user chose the drive entry at position (as CBN_SELCHANGE).
    void ChooseDrive(int position);
    // "创建".
    void OnCreate();
    // "...": the library location dialog.
    void OnChooseLocation();
    // What the refresh timer does: refill the list and take the remembered drive again.
    void RefreshDrives();
    // Exit or stop (button 2, Esc, the close box).
    void reject() override;

signals:
    // The scan's final status (SCAN_DONE, SCAN_ABORTED or SCAN_FAILED) was handled.
    void ScanFinished(int status);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void UpdateCreateButton();
    LRESULT OnScanMessage(uint32_t msg, WPARAM wParam, LPARAM lParam);
    void OnScanFinal(WPARAM status);
    void CompleteScan();
    void ShowUnreadable(const ScanUnreadable& unreadable);
    void ShowUnreadableDetails();
    void ShowDone(bool done);
    void OpenNewIndex();
    void ShowLater(int kind, const QString& caption, const QString& text);
    // Identity of the disc an entry holds now: root, label, capacity; "" for none.
    std::string DiscIdentity(int position) const;
    void OnDriveChange();

    CLibraryTree* m_tree = nullptr;
    IOrbShell& m_shell;
    FolderDisc m_folder;  // root empty in drive mode
    bool m_imageMode = false;
    std::shared_ptr<CDiscImage> m_image;  // the opened image file; null when it did not open
    std::string m_imageError;

    CDriveComboBox* m_drives = nullptr;
    QPushButton* m_createButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    QPushButton* m_locationButton = nullptr;
    QProgressBar* m_saveBar = nullptr;
    QProgressBar* m_collectBar = nullptr;
    QComboBox* m_textFiles = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_locationEdit = nullptr;
    QCheckBox* m_ejectCheck = nullptr;
    QCheckBox* m_remarkCheck = nullptr;
    QLabel* m_unreadLabel = nullptr;
    QPushButton* m_unreadButton = nullptr;
    QString m_unreadDetails;
    QLabel* m_doneLabel = nullptr;
    QPushButton* m_openButton = nullptr;
    QTimer* m_refreshTimer = nullptr;

    std::string m_saveLocation;
    int m_selectedDrive = -1;
    // The disc the last drive choice read, so a refresh that finds the same disc
    // keeps the fields (and a typed name) instead of asking again.
    std::string m_chosenIdentity;
    // The drive root the text-file list was read from.
    std::string m_textListRoot;

    // The running or last scan, fixed when it started: the completion inserts and
    // annotates exactly the file this scan writes.
    CScanSession* m_session = nullptr;
    std::string m_scanRoot, m_scanLocation, m_scanName, m_scanPath, m_scanRemarkFile;
    bool m_closeWhenFinal = false;
    bool m_createLocked = false;  // after a completed scan, until a new name comes
    bool m_firstShow = true;
    std::string m_arrivedRoot;

    std::unique_ptr<CDriveWatcher> m_watcher;
    std::string m_watchedDiscs;  // touched on the watcher's thread only
};

}  // namespace orb
