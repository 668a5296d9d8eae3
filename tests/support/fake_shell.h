// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in main window for widget tests: it owns a document, hands out what a
// test plugs into it, and records what the parts under test asked of it.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "index/doc/orb_doc.h"
#include "shell/orb_shell.h"

namespace orb::test {

class CFakeShell : public IOrbShell {
public:
    CFakeShell() { doc.SetMainWindow(&window); }

    QWidget* MainWindow() override { return &window; }
    COrbDoc& Document() override { return doc; }
    CCDDirView* DirView() override { return dirView; }
    COrbView* FileView() override { return fileView; }
    CRemarkView* RemarkView() override { return remarkView; }
    bool OpenDocumentFile(const std::string& hostPath) override {
        opened.push_back(hostPath);
        return doc.OnOpenDocument(hostPath);
    }
    CLibraryTree* LibraryTree() override { return libraryTree; }
    CFavoriteTree* FavoriteTree() override { return favoriteTree; }
    CLibraryTree* SearchScopeTree() override { return scopeTree; }
    void SelectPage(int page) override { pages.push_back(page); }
    void ShowNewDiscDialog(const std::string& folder) override {
        newDiscDialogs.push_back(folder);
        if (onNewDiscDialog) onNewDiscDialog(folder);
    }
    void RestoreFromTray() override {
        ++restores;
        inTray = false;
    }
    bool IsInTray() const override { return inTray; }
    void SetStatusMessage(const QString& text) override { statusMessages << text; }
    void AddFavoriteFromFileList() override {
        ++addFavoriteCalls;
        if (onAddFavorite) onAddFavorite();
    }
    void SetFileListDragActive(bool active) override { fileListDragActive = active; }

    QWidget window;
    COrbDoc doc;
    CCDDirView* dirView = nullptr;
    COrbView* fileView = nullptr;
    CRemarkView* remarkView = nullptr;
    CLibraryTree* libraryTree = nullptr;
    CFavoriteTree* favoriteTree = nullptr;
    CLibraryTree* scopeTree = nullptr;
    bool inTray = false;
    bool fileListDragActive = false;

    std::vector<std::string> opened;
    std::vector<int> pages;
    std::vector<std::string> newDiscDialogs;
    std::function<void(const std::string&)> onNewDiscDialog;
    std::function<void()> onAddFavorite;
    int restores = 0;
    int addFavoriteCalls = 0;
    QStringList statusMessages;
};

}  // namespace orb::test
