// SPDX-License-Identifier: GPL-3.0-or-later
// What the panes, views and dialogs may ask of the main window. They get this
// small interface instead of the frame itself, so no pane includes the frame and
// each can be tested with a stand-in shell.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace orb {

class COrbDoc;
class CCDDirView;
class COrbView;
class CRemarkView;
class CLibraryTree;
class CFavoriteTree;

// Pages of the navigation bar's panel bar.
enum NavPage { kPageLibrary = 0, kPageFavorites = 1, kPageSearch = 2 };

class IOrbShell {
public:
    virtual ~IOrbShell() = default;

    // The main window: parent of message boxes and modal dialogs.
    virtual QWidget* MainWindow() = 0;
    // The single document and its three views (the views may be null in tests).
    virtual COrbDoc& Document() = 0;
    virtual CCDDirView* DirView() = 0;
    virtual COrbView* FileView() = 0;
    virtual CRemarkView* RemarkView() = 0;

    // The application's open-document path (as File > Open): commits a pending
    // annotation edit, opens the index, shows "文件打开失败" on failure, records the
    // file in the recent-file list and the title. True when the index is open.
    virtual bool OpenDocumentFile(const std::string& hostPath) = 0;

    // The trees other parts use: the library pane's library tree, the favourites
    // pane's tree and the search pane's scope tree (null while a pane is missing).
    virtual CLibraryTree* LibraryTree() = 0;
    virtual CFavoriteTree* FavoriteTree() = 0;
    virtual CLibraryTree* SearchScopeTree() = 0;

    // Shows the navigation bar and selects a page (NavPage).
    virtual void SelectPage(int page) = 0;
    // Runs the new disc image dialog modally (the frame's new-disc flag is set
    // meanwhile); with a folder, the dialog catalogues that folder instead of a drive.
    virtual void ShowNewDiscDialog(const std::string& folder = std::string()) = 0;
    virtual void RestoreFromTray() = 0;
    // True while the window sits in the tray (hidden).
    virtual bool IsInTray() const = 0;
    // The message pane of the status bar.
    virtual void SetStatusMessage(const QString& text) = 0;

    // The file list's "加入收藏夹": the favourites pane adds the selected row.
    virtual void AddFavoriteFromFileList() = 0;
    // Set while a drag started in the file list runs: the frame then refuses drops.
    virtual void SetFileListDragActive(bool active) = 0;
};

}  // namespace orb
