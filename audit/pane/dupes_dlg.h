// SPDX-License-Identifier: GPL-3.0-or-later
// "工具 > 查找重复文件...": files kept on more than one disc of the ticked scope
// (the whole library when nothing is ticked), grouped, most wasted space first.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "audit/duplicates.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QModelIndex;
class QTreeView;

namespace orb {

class IOrbShell;
class CSearchScopeTree;
class CDupesModel;

class CDupesDlg : public QDialog {
    Q_OBJECT
public:
    // shell may be null (no copy can then be opened).
    CDupesDlg(IOrbShell* shell, const std::string& libraryDir, QWidget* parent = nullptr);
    ~CDupesDlg() override;

    // The index files searched: ticked discs in tree order, else every disc.
    std::vector<std::string> ScopePaths() const;
    void Start();
    void Stop();
    bool IsRunning() const { return job_ != nullptr; }
    const DupeResult& Result() const;
    // Opens the copy shown by a child row of the result list.
    void OpenCopy(const QModelIndex& index);

    CSearchScopeTree* scope = nullptr;
    QCheckBox* sizeOnly = nullptr;
    QSpinBox* minMegabytes = nullptr;
    QPushButton* findButton = nullptr;
    QPushButton* exportButton = nullptr;
    QTreeView* results = nullptr;
    CDupesModel* model = nullptr;
    QLabel* status = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Job;
    void Poll();
    void ShowResult();

    IOrbShell* shell_;
    std::string libraryDir_;
    std::shared_ptr<Job> job_;
    QTimer poll_;
    QProgressBar* progress_ = nullptr;
};

void RunDupesDialog(IOrbShell& shell);

}  // namespace orb
