// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/pane/dupes_dlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTreeView>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <mutex>
#include <thread>

#include "audit/export.h"
#include "audit/pane/audit_rules.h"
#include "audit/pane/dupes_model.h"
#include "audit/ui/export_file.h"
#include "library/store/library_store.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"
#include "views/dir_view.h"
#include "views/orb_view.h"

namespace orb {

struct CDupesDlg::Job {
    std::mutex mutex;
    size_t done = 0, total = 0;
    bool finished = false;
    DupeResult result;
    std::atomic<bool> stop{false};
};

CDupesDlg::CDupesDlg(IOrbShell* shell, const std::string& libraryDir, QWidget* parent)
    : QDialog(parent), shell_(shell), libraryDir_(libraryDir) {
    setWindowTitle(QStringLiteral("查找重复文件"));
    resize(860, 520);
    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(this);
    scope = new CSearchScopeTree(splitter);
    scope->FillLibrary(libraryDir_);
    model = new CDupesModel(this);
    results = new QTreeView(splitter);
    results->setAccessibleName(QStringLiteral("重复文件"));
    results->setUniformRowHeights(true);
    results->setModel(model);
    results->header()->setSortIndicator(CDupesModel::kWasted, Qt::DescendingOrder);
    results->setSortingEnabled(true);
    // Every column in sight on the dialog's first size.
    results->header()->resizeSection(CDupesModel::kName, 160);
    results->header()->resizeSection(CDupesModel::kDirectory, 170);
    results->header()->resizeSection(CDupesModel::kSize, 80);
    results->header()->resizeSection(CDupesModel::kCopies, 45);
    results->header()->resizeSection(CDupesModel::kWasted, 80);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);
    auto* options = new QHBoxLayout;
    sizeOnly = new QCheckBox(QStringLiteral("只比较大小"), this);
    minMegabytes = new QSpinBox(this);
    minMegabytes->setRange(0, 1000000);
    minMegabytes->setSuffix(QStringLiteral(" MB"));
    findButton = new QPushButton(QStringLiteral("查找"), this);
    exportButton = new QPushButton(QStringLiteral("导出..."), this);
    exportButton->setEnabled(false);
    options->addWidget(sizeOnly);
    options->addWidget(new QLabel(QStringLiteral("最小文件:"), this));
    options->addWidget(minMegabytes);
    options->addStretch();
    options->addWidget(exportButton);
    options->addWidget(findButton);
    layout->addLayout(options);
    progress_ = new QProgressBar(this);
    progress_->setVisible(false);
    layout->addWidget(progress_);
    status = new QLabel(QStringLiteral("勾选要查找的光盘或分类；不勾选时查找整个光盘库。"), this);
    layout->addWidget(status);

    connect(findButton, &QPushButton::clicked, this, [this] {
        if (IsRunning())
            Stop();
        else
            Start();
    });
    connect(results, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenCopy(index); });
    results->installEventFilter(this);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        ExportFormat format = ExportFormat::Csv;
        const QString path = ChooseExportFile(this, QStringLiteral("导出重复文件"),
                                              QStringLiteral("重复文件"), format);
        if (path.isEmpty()) return;
        auto copy = std::make_shared<DupeResult>(model->Result());
        RunExportToFile(this, path, [copy, format](std::ostream& out, const std::atomic<bool>&) {
            ExportDuplicates(out, format, *copy);
            return true;
        });
    });
    poll_.setInterval(100);
    connect(&poll_, &QTimer::timeout, this, &CDupesDlg::Poll);
}

CDupesDlg::~CDupesDlg() {
    if (job_) job_->stop = true;
}

std::vector<std::string> CDupesDlg::ScopePaths() const {
    std::vector<std::string> paths;
    for (QTreeWidgetItemIterator it(scope); *it; ++it) {
        if (scope->IsCategoryItem(*it)) continue;
        if (CSearchScopeTree::CheckState(*it) >= 2) paths.push_back(scope->GetItemPath(*it, true));
    }
    if (paths.empty()) paths = LibraryDiscPaths(libraryDir_);
    return paths;
}

void CDupesDlg::Start() {
    if (job_) return;
    job_ = std::make_shared<Job>();
    DupeOptions options;
    options.sizeOnly = sizeOnly->isChecked();
    options.minSize = MegabytesToBytes(minMegabytes->value());
    std::thread([job = job_, paths = ScopePaths(), options] {
        DupeResult r = FindDuplicates(
            paths, options,
            [&](size_t done, size_t total) {
                std::lock_guard<std::mutex> lock(job->mutex);
                job->done = done;
                job->total = total;
            },
            &job->stop);
        std::lock_guard<std::mutex> lock(job->mutex);
        job->result = std::move(r);
        job->finished = true;
    }).detach();
    findButton->setText(QStringLiteral("停止"));
    exportButton->setEnabled(false);
    progress_->setValue(0);
    progress_->setVisible(true);
    status->setText(QStringLiteral("正在查找..."));
    poll_.start();
}

void CDupesDlg::Stop() {
    if (job_) job_->stop = true;
}

void CDupesDlg::Poll() {
    if (!job_) return;
    {
        std::lock_guard<std::mutex> lock(job_->mutex);
        if (job_->total > 0) {
            progress_->setRange(0, static_cast<int>(job_->total));
            progress_->setValue(static_cast<int>(job_->done));
        }
        if (!job_->finished) return;
        model->SetResult(std::move(job_->result));
    }
    poll_.stop();
    job_.reset();
    findButton->setText(QStringLiteral("查找"));
    progress_->setVisible(false);
    ShowResult();
}

bool CDupesDlg::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a copy opens it; it must not reach the default button and start
    // the search over.
    if (watched == results && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && results->currentIndex().isValid()) {
            OpenCopy(results->currentIndex());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

const DupeResult& CDupesDlg::Result() const {
    return model->Result();
}

void CDupesDlg::ShowResult() {
    const DupeResult& result = model->Result();
    // The result comes most wasted space first; the view shows it so.
    results->header()->setSortIndicator(CDupesModel::kWasted, Qt::DescendingOrder);
    uint64_t wasted = 0;
    for (const DupeGroup& group : result.groups) wasted += group.Wasted();
    exportButton->setEnabled(!result.groups.empty());
    QString text =
        QStringLiteral("%1组重复文件，多占用 %2 字节").arg(result.groups.size()).arg(wasted);
    if (result.stopped) text = QStringLiteral("已停止。") + text;
    if (!result.failed.empty())
        text += QStringLiteral("；%1个索引无法读取").arg(result.failed.size());
    status->setText(text);
}

void CDupesDlg::OpenCopy(const QModelIndex& index) {
    if (!shell_) return;
    const int g = model->GroupOf(index);
    const int c = model->CopyOf(index);
    const DupeResult& result = model->Result();
    if (c < 0 || g < 0 || static_cast<size_t>(g) >= result.groups.size()) return;
    const DupeGroup& group = result.groups[static_cast<size_t>(g)];
    if (static_cast<size_t>(c) >= group.copies.size()) return;
    // Copies: opening the document may run a nested event loop (its message box).
    const DupeCopy copy = group.copies[static_cast<size_t>(c)];
    const std::string indexPath = result.discs[copy.disc].indexPath;
    if (!shell_->OpenDocumentFile(indexPath)) return;
    if (CCDDirView* dirs = shell_->DirView()) dirs->SelectDirectoryByPath(copy.dirPath);
    if (COrbView* files = shell_->FileView()) files->SelectItemByName(copy.name);
}

void RunDupesDialog(IOrbShell& shell) {
    CDupesDlg dlg(&shell, GetLibraryDirectory(), shell.MainWindow());
    dlg.exec();
}

}  // namespace orb
