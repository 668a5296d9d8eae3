// SPDX-License-Identifier: GPL-3.0-or-later
// CLibraryPane: page "光盘库" of the navigation bar. The library tree over a
// splitter bar and a tab control with the selected disc's remark ("注释") and cover
// ("封面"), the "修改" button, the context menu with the library commands, label
// editing for renames, and library drag and drop. The pane keeps the selected
// disc's index open in its own reader.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "index/index_reader.h"
#include "library/pane/library_drag.h"
#include "library/pane/library_rules.h"

class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeWidgetItem;

namespace orb {

class IOrbShell;
class CLibraryTree;
class CPageTabCtrl;
class CPaneSplitter;
class CCoverInfoPanel;

class CLibraryPane : public QWidget {
    Q_OBJECT

public:
    // Texts of the pane.
    static constexpr const char* kCaption = "提示";
    static constexpr const char* kOpenFailed = "文件打开失败";
    static constexpr const char* kSelectDiscFirst = "请先选择目标光盘";
    static constexpr const char* kNoFileOpen = "没有打开文件!";
    static constexpr const char* kReadOnlyTip =
        "该光盘索引只能读取(只读的光盘库或正被其它程序修改)，不能修改备注和封面";
    static constexpr const char* kMoveFailed = "移动光盘库出现错误,系统自动刷新光盘库";
    static constexpr const char* kPictureFilter = "图片文件(*.jpg *.gif *.bmp)";
    static constexpr const char* kSyncQuestion =
        "当前打开的索引文件不在光盘库中，要把它加入光盘库吗？";
    static constexpr const char* kSyncExists =
        "该光盘索引在光盘库指定分类中已经存在一个名称相同的副本！不能继续操作";
    static constexpr const char* kSyncMoveFailed = "移动文件失败,请确定该文件没有被其它程序打开!";

    explicit CLibraryPane(IOrbShell& shell, QWidget* parent = nullptr);
    ~CLibraryPane() override;

    CLibraryTree* Tree();
    // Fills the tree from hostPath and stores it as the library directory.
    void SetLibraryDirectory(const std::string& hostPath);

    // --- commands (the context menu's, callable directly) ---
    // A new category under parent, its directory created, its label being edited.
    QTreeWidgetItem* CreateCategory(QTreeWidgetItem* parent);
    // Renames the item's directory or disc (with its companion) to newLabel; true
    // when the tree should keep the new label (then it is already set).
    bool RenameLibraryItem(QTreeWidgetItem* item, const QString& newLabel);
    // Asks, then deletes the category or disc; true when it was deleted.
    bool DeleteLibraryItem(QTreeWidgetItem* item);
    // Opens a disc as the document.
    void OpenLibraryDisc(QTreeWidgetItem* item);
    // A category in the file manager, a disc as the document.
    void ExploreLibraryItem(QTreeWidgetItem* item);
    // "同步打开的索引到光盘库": selects the open index's disc when the library holds
    // it, else asks (askAdd) and moves it, with its annotations, into the category
    // pickLocation gives, never over an existing file, and reopens it there.
    void AddOpenIndexToLibrary(const std::function<bool(const QString& text)>& askAdd,
                               const std::function<bool(std::string& categoryPath)>& pickLocation);
    // Rebuilds the tree from the library directory.
    void RefreshLibrary();
    // "修改": the remark or the cover of the selected disc.
    void Modify();

    // The context menu for a target item, its actions named by command id; the
    // caller owns it. RunCommand carries out a chosen command on the target.
    QMenu* BuildContextMenu(QTreeWidgetItem* target, QWidget* parent = nullptr);
    void RunCommand(int command, QTreeWidgetItem* target);

    // A library drag from item; returns when the drag has ended.
    void BeginDrag(QTreeWidgetItem* item);

    // Parts, for the frame and for tests.
    CPaneLibraryTree* PaneTree() const { return tree_; }
    CIndexReader& Reader() { return reader_; }
    QPlainTextEdit* RemarkBox() const { return remarkBox_; }
    CPageTabCtrl* Tabs() const { return tabs_; }
    QPushButton* ModifyButton() const { return modifyButton_; }
    CPaneSplitter* Splitter() const { return splitter_; }
    CCoverInfoPanel* CoverPanel() const { return cover_; }
    // The selected disc's index could be opened only for reading: "修改" is off.
    bool IsReadOnly() const;

    // Every message box of the pane goes through here; a test may answer instead
    // of a person. detail is shown below the text (may be empty).
    using MessageHook = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon icon, const QString& text, const QString& detail,
        QMessageBox::StandardButtons buttons)>;
    void SetMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }

signals:
    // A disc's index file (from, to) or a category's directory (paths ending with
    // '/') now lives elsewhere on disk: renamed, moved by a drag, or filed into the
    // library. Whatever keeps such paths follows.
    void libraryPathMoved(const std::string& from, const std::string& to);

public:
    // The remark editor and the picture chooser, replaceable for tests: the
    // editor returns false when cancelled; the chooser returns "" when cancelled.
    std::function<bool(QString& remark)> editRemark;
    std::function<QString()> choosePicture;
    // The menu's 刷新; unset, the tree is filled again at once. The window walks
    // the library on a worker instead: 100,000 categories take a second.
    std::function<void()> refreshAll;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Initialise();
    void LayOut();
    void PlaceModifyButton();
    void OnSelectionChanged(QTreeWidgetItem* current);
    void ShowCover();
    void OnContextMenu(const QPoint& pos);
    void OnMoveFailed(const LibraryFileResult& result);
    // The file move of a drop, with the document closed first when it shows what moves.
    LibraryFileResult MoveDraggedItem(QTreeWidgetItem* target, QTreeWidgetItem* dragged);
    QMessageBox::StandardButton Message(
        QMessageBox::Icon icon, const QString& text, const QString& detail = QString(),
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    // Opens the pane reader in mode, or else read-only.
    bool OpenReader(const std::string& indexPath, OpenMode mode);
    void UpdateModifyButton();

    IOrbShell& shell_;
    CPaneSplitter* splitter_ = nullptr;
    CCoverInfoPanel* cover_ = nullptr;
    QPushButton* modifyButton_ = nullptr;
    QPlainTextEdit* remarkBox_ = nullptr;
    CPageTabCtrl* tabs_ = nullptr;
    CPaneLibraryTree* tree_ = nullptr;
    int initialised_ = 0;
    CIndexReader reader_;
    bool readOnly_ = false;
    MessageHook messageHook_;
};

// Remark text between the index (stored bytes, lines ended by CR LF as the
// original program writes them) and the edit controls (host text, LF).
QString RemarkToHost(const std::string& stored);
std::string RemarkToStored(const QString& text);

}  // namespace orb
