// SPDX-License-Identifier: GPL-3.0-or-later
// CLibraryLocationDlg "选择光盘文件保存位置": picks a category folder of the library
// (or its root) from a tree that shows categories only.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QTreeWidgetItem;

namespace orb {

class CLibraryTree;

class CLibraryLocationDlg : public QDialog {
    Q_OBJECT
public:
    // The library is read from the given tree's root (the library pane's), or from
    // the library directory setting when there is no tree yet.
    CLibraryLocationDlg(CLibraryTree* tree, QWidget* parent);

    // The chosen category's host path ending with '/' (the library root for the
    // root item); empty while nothing is selected.
    std::string SelectedPath() const { return m_path; }
    // Selects the category of a path when the tree has it (else keeps the choice).
    bool SelectPath(const std::string& path);

    CLibraryTree* Tree() const { return m_tree; }

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current);

    CLibraryTree* m_tree = nullptr;
    QLineEdit* m_pathEdit = nullptr;
    std::string m_path;
};

}  // namespace orb
