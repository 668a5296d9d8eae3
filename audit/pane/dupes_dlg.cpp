// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/pane/dupes_dlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <mutex>
#include <thread>

#include "audit/export.h"
#include "audit/pane/audit_rules.h"
#include "audit/ui/export_file.h"
#include "library/store/library_store.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"
#include "views/dir_view.h"
#include "views/orb_view.h"

namespace orb {

namespace {

constexpr int kGroupRole = Qt::UserRole;     // group number on every row
constexpr int kCopyRole = Qt::UserRole + 1;  // copy number on a copy row, -1 on a group
constexpr int kSortRole = Qt::UserRole + 2;  // numbers sort as numbers

enum Column { kName, kDirectory, kSize, kCopies, kWasted, kTime };

class CNumberItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(c, kSortRole), b = other.data(c, kSortRole);
        if (a.isValid() && b.isValid()) return a.toULongLong() < b.toULongLong();
        return QTreeWidgetItem::operator<(other);
    }
};

}  // namespace

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
    results = new QTreeWidget(splitter);
    results->setHeaderLabels({QStringLiteral("名称 / 光盘"), QStringLiteral("目录"),
                              QStringLiteral("大小"), QStringLiteral("份数"),
                              QStringLiteral("浪费空间"), QStringLiteral("修改时间")});
    results->setSortingEnabled(true);
    results->header()->resizeSection(kName, 200);
    results->header()->resizeSection(kDirectory, 220);
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
    connect(results, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OpenCopy(item); });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        ExportFormat format = ExportFormat::Csv;
        const QString path = ChooseExportFile(this, QStringLiteral("导出重复文件"),
                                              QStringLiteral("重复文件"), format);
        if (path.isEmpty()) return;
        auto copy = std::make_shared<DupeResult>(result_);
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
        result_ = std::move(job_->result);
    }
    poll_.stop();
    job_.reset();
    findButton->setText(QStringLiteral("查找"));
    progress_->setVisible(false);
    ShowResult();
}

void CDupesDlg::ShowResult() {
    results->setSortingEnabled(false);
    results->clear();
    uint64_t wasted = 0;
    for (size_t g = 0; g < result_.groups.size(); ++g) {
        const DupeGroup& group = result_.groups[g];
        wasted += group.Wasted();
        auto* top = new CNumberItem(results);
        top->setText(kName, QString::fromStdString(ExportName(group.copies.front().name)));
        top->setText(kSize, QString::number(group.size));
        top->setData(kSize, kSortRole, QVariant::fromValue<qulonglong>(group.size));
        top->setText(kCopies, QString::number(group.copies.size()));
        top->setData(kCopies, kSortRole, QVariant::fromValue<qulonglong>(group.copies.size()));
        top->setText(kWasted, QString::number(group.Wasted()));
        top->setData(kWasted, kSortRole, QVariant::fromValue<qulonglong>(group.Wasted()));
        top->setData(kName, kGroupRole, static_cast<int>(g));
        top->setData(kName, kCopyRole, -1);
        for (size_t c = 0; c < group.copies.size(); ++c) {
            const DupeCopy& copy = group.copies[c];
            auto* row = new QTreeWidgetItem(top);
            row->setText(kName, QString::fromStdString(ExportText(result_.discs[copy.disc].label)));
            row->setText(kDirectory, QString::fromStdString(ExportPath(copy.dirPath)));
            row->setText(kTime, QString::fromStdString(LocalTimeText(copy.writeTime)));
            row->setData(kName, kGroupRole, static_cast<int>(g));
            row->setData(kName, kCopyRole, static_cast<int>(c));
        }
    }
    results->setSortingEnabled(true);
    results->sortByColumn(kWasted, Qt::DescendingOrder);
    exportButton->setEnabled(!result_.groups.empty());
    QString text =
        QStringLiteral("%1组重复文件，多占用 %2 字节").arg(result_.groups.size()).arg(wasted);
    if (result_.stopped) text = QStringLiteral("已停止。") + text;
    if (!result_.failed.empty())
        text += QStringLiteral("；%1个索引无法读取").arg(result_.failed.size());
    status->setText(text);
}

void CDupesDlg::OpenCopy(QTreeWidgetItem* item) {
    if (!item || !shell_) return;
    const int g = item->data(kName, kGroupRole).toInt();
    const int c = item->data(kName, kCopyRole).toInt();
    if (c < 0 || g < 0 || static_cast<size_t>(g) >= result_.groups.size()) return;
    const DupeGroup& group = result_.groups[static_cast<size_t>(g)];
    if (static_cast<size_t>(c) >= group.copies.size()) return;
    // Copies: opening the document may run a nested event loop (its message box).
    const DupeCopy copy = group.copies[static_cast<size_t>(c)];
    const std::string index = result_.discs[copy.disc].indexPath;
    if (!shell_->OpenDocumentFile(index)) return;
    if (CCDDirView* dirs = shell_->DirView()) dirs->SelectDirectoryByPath(copy.dirPath);
    if (COrbView* files = shell_->FileView()) files->SelectItemByName(copy.name);
}

void RunDupesDialog(IOrbShell& shell) {
    CDupesDlg dlg(&shell, GetLibraryDirectory(), shell.MainWindow());
    dlg.exec();
}

}  // namespace orb
