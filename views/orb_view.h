// SPDX-License-Identifier: GPL-3.0-or-later
// COrbView: the file list of the directory selected in the directory tree, with
// the real files reachable when the disc is in a drive: open, explore, copy to the
// clipboard, drag out. It also shows the clicked entry's annotation and feeds the
// favourites.
#pragma once

#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "index/index_format.h"
#include "views/file_list_ctrl.h"

class QAction;
class QMenu;
class QMimeData;

namespace orb {

class COrbDoc;
class IOrbShell;

class COrbView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kNoDiscText =
        "在所有光盘驱动器中没有找到该光盘，请确定插入的光盘是否正确!";
    static constexpr const char* kUnknownErrorText = "未知错误!";

    COrbView(COrbDoc& doc, IOrbShell& shell, QWidget* parent = nullptr);
    ~COrbView() override;

    CFileListCtrl& ListCtrl() { return *m_list; }

    // Lists a directory (null entry: the disc root) and remembers its stored path.
    void ShowDirectory(const std::string& storedPath, const IndexEntry* directory);
    // Empties the list and forgets the directory.
    void Clear();
    // Selects the row with this stored name and shows its annotation; 1 on success.
    int SelectItemByName(const std::string& storedName);
    // Commits a pending annotation edit, then shows the annotation of the row at the
    // selection mark.
    void ShowItemAnnotation();

    int SelectedCount() const;
    // The first selected row's entry (links are not kept: -1) and id.
    bool GetSelectedEntry(IndexEntry& entry, int32_t& id) const;
    // The listed directory relative to the disc root: stored bytes, "\" after each
    // directory, "" at the root.
    std::string CurrentDirectoryStored() const { return m_currentPath; }

    // The copy command and its enable rule (disc in a drive, a row selected).
    bool CanEditCopy() const;
    void OnEditCopy();
    void SetViewStyle(int style);
    int ViewStyle() const;

    // Opens a row: a directory is entered in the tree, a file is opened on the disc.
    void OpenRow(int row);
    // Opens the listed directory on the disc in the file manager.
    void OnExplore();
    // "导出列表...": the whole disc's listing to a CSV, HTML or JSON file.
    void OnExportList();
    // The drag data for the selection (null when there is nothing to offer): the
    // file list when the disc is in a drive, the FAVSOFTDRAGDATA block for exactly
    // one row, and this process's mark.
    QMimeData* BuildDragData() const;
    // The clipboard data for the selection; null (with reason) when refused.
    QMimeData* BuildCopyData(QString* refusal = nullptr) const;
    // Host paths of the selected rows on the disc; false when the disc is in no
    // drive or a name is not one safe path component.
    bool SelectedHostPaths(std::vector<std::string>& paths) const;

    // The context menu ("_filelistpopup_"): its items carry the command ids as
    // object names and are enabled by the selection and the disc's drive.
    void FillContextMenu(QMenu& menu);
    // Carries out an item of that menu (a disabled one is ignored).
    void RunMenuCommand(const QAction* action);

    // Hooks for the desktop's services, replaced by tests.
    void SetMessageHandler(std::function<void(const QString&)> handler) {
        m_message = std::move(handler);
    }
    void SetUrlOpener(std::function<bool(const QUrl&)> opener) { m_openUrl = std::move(opener); }

private:
    void OnContextMenu(const QPoint& globalPos);
    void StartDrag();
    void ShowMessage(const QString& text);

    COrbDoc& m_doc;
    IOrbShell& m_shell;
    CFileListCtrl* m_list;
    std::string m_currentPath;
    std::function<void(const QString&)> m_message;
    std::function<bool(const QUrl&)> m_openUrl;
};

}  // namespace orb
