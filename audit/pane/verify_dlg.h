// SPDX-License-Identifier: GPL-3.0-or-later
// "工具 > 校验光盘...": the open index against the disc in a drive (or a folder),
// on a worker thread, with a result list filterable by kind.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "audit/verify.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace orb {

class IOrbShell;
class CVerifyResultModel;

class CVerifyDlg : public QDialog {
    Q_OBJECT
public:
    CVerifyDlg(std::string indexPath, std::string discRoot, QWidget* parent = nullptr);
    // A running verification is told to stop and left to end on its own.
    ~CVerifyDlg() override;

    void Start();
    void Stop();
    bool IsRunning() const;
    const std::vector<VerifyItem>& Items() const { return items_; }
    const VerifySummary& Summary() const { return summary_; }
    int VisibleRows() const;
    bool SaveReport(const QString& path);

    QCheckBox* fullCheck = nullptr;
    QComboBox* kindFilter = nullptr;
    QCheckBox* problemsOnly = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* saveButton = nullptr;
    QLabel* status = nullptr;

private:
    struct Job;
    void Poll();
    void Refilter();

    std::string indexPath_, discRoot_;
    std::shared_ptr<Job> job_;
    std::vector<VerifyItem> items_;
    VerifySummary summary_;
    QTimer poll_;
    QElapsedTimer clock_;
    QProgressBar* progress_ = nullptr;
    QTreeView* list_ = nullptr;
    CVerifyResultModel* model_ = nullptr;
};

// Runs the dialog for the shell's open index: the disc is looked for in the
// drives; without it the user may pick a folder. Messages for no open index.
void RunVerifyDialog(IOrbShell& shell);

}  // namespace orb
