// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/pane/verify_dlg.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <mutex>
#include <thread>

#include "audit/export.h"
#include "audit/pane/audit_rules.h"
#include "image/verify_source.h"
#include "index/doc/orb_doc.h"
#include "platform/files.h"
#include "shell/orb_shell.h"

namespace orb {

// The rows shown: indexes into the dialog's items.
class CVerifyResultModel : public QAbstractTableModel {
public:
    explicit CVerifyResultModel(const std::vector<VerifyItem>& items, QObject* parent)
        : QAbstractTableModel(parent), items_(items) {}
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& = {}) const override { return 4; }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        static const char* kTitles[] = {"结果", "路径", "索引中", "光盘上"};
        if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return QString::fromUtf8(kTitles[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const VerifyItem& item = items_[rows_[static_cast<size_t>(index.row())]];
        auto side = [](bool set, uint64_t size, const FILETIME& t) {
            if (!set) return QString();
            return QStringLiteral("%1, %2").arg(size).arg(QString::fromStdString(LocalTimeText(t)));
        };
        switch (index.column()) {
            case 0:
                return QString::fromUtf8(VerifyKindText(item.kind));
            case 1:
                return QString::fromStdString(ExportPath(item.path));
            case 2:
                return item.isDirectory ? QString()
                                        : side(item.inIndex, item.indexSize, item.indexTime);
            default:
                if (item.kind == VerifyKind::Unreadable) return QString::fromStdString(item.error);
                return item.isDirectory ? QString()
                                        : side(item.onDisc, item.discSize, item.discTime);
        }
    }
    void Reset(std::vector<size_t> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    void Append(const std::vector<size_t>& rows) {
        if (rows.empty()) return;
        const int first = static_cast<int>(rows_.size());
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        rows_.insert(rows_.end(), rows.begin(), rows.end());
        endInsertRows();
    }

private:
    const std::vector<VerifyItem>& items_;
    std::vector<size_t> rows_;
};

// Shared by the dialog and its worker; the worker never touches the dialog.
struct CVerifyDlg::Job : IVerifyListener {
    std::mutex mutex;
    std::vector<VerifyItem> pending;
    VerifyProgress progress;
    VerifySummary summary;
    std::string error;
    bool finished = false;
    std::atomic<bool> stop{false};

    void OnItem(const VerifyItem& item) override {
        std::lock_guard<std::mutex> lock(mutex);
        pending.push_back(item);
    }
    void OnProgress(const VerifyProgress& p) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress = p;
    }
};

CVerifyDlg::CVerifyDlg(std::string indexPath, std::string discRoot, QWidget* parent)
    : QDialog(parent), indexPath_(std::move(indexPath)), discRoot_(std::move(discRoot)) {
    setWindowTitle(QStringLiteral("校验光盘"));
    resize(860, 480);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("索引: %1\n光盘: %2")
                       .arg(QString::fromStdString(indexPath_), QString::fromStdString(discRoot_)),
                   this));
    auto* top = new QHBoxLayout;
    fullCheck = new QCheckBox(QStringLiteral("完整校验（读取每个文件的数据）"), this);
    startButton = new QPushButton(QStringLiteral("开始"), this);
    top->addWidget(fullCheck);
    top->addStretch();
    top->addWidget(startButton);
    layout->addLayout(top);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);
    status = new QLabel(this);
    layout->addWidget(status);
    auto* filters = new QHBoxLayout;
    kindFilter = new QComboBox(this);
    kindFilter->addItem(QStringLiteral("全部"), -1);
    for (int k = 0; k < kVerifyKindCount; ++k)
        kindFilter->addItem(QString::fromUtf8(VerifyKindText(static_cast<VerifyKind>(k))), k);
    problemsOnly = new QCheckBox(QStringLiteral("只看问题"), this);
    saveButton = new QPushButton(QStringLiteral("保存报告..."), this);
    saveButton->setEnabled(false);
    filters->addWidget(new QLabel(QStringLiteral("显示:"), this));
    filters->addWidget(kindFilter);
    filters->addWidget(problemsOnly);
    filters->addStretch();
    filters->addWidget(saveButton);
    layout->addLayout(filters);
    list_ = new QTreeView(this);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    model_ = new CVerifyResultModel(items_, this);
    list_->setModel(model_);
    list_->header()->resizeSection(1, 260);
    // The size and time columns fit a large size and a whole time.
    const int sizeTime =
        list_->fontMetrics().horizontalAdvance(QStringLiteral("4700372992, 2026-12-07 20:53:10")) +
        12;
    list_->header()->resizeSection(2, sizeTime);
    list_->header()->resizeSection(3, sizeTime);
    layout->addWidget(list_, 1);

    connect(startButton, &QPushButton::clicked, this, [this] {
        if (IsRunning())
            Stop();
        else
            Start();
    });
    connect(kindFilter, &QComboBox::currentIndexChanged, this, [this] { Refilter(); });
    connect(problemsOnly, &QCheckBox::toggled, this, [this] { Refilter(); });
    connect(saveButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存报告"),
                                                          QStringLiteral("校验报告.txt"),
                                                          QStringLiteral("文本文件 (*.txt)"));
        if (!path.isEmpty() && !SaveReport(path))
            QMessageBox::critical(this, QStringLiteral("提示"),
                                  QStringLiteral("保存报告失败: %1").arg(path));
    });
    poll_.setInterval(100);
    connect(&poll_, &QTimer::timeout, this, &CVerifyDlg::Poll);
}

CVerifyDlg::~CVerifyDlg() {
    if (job_) job_->stop = true;
}

bool CVerifyDlg::IsRunning() const {
    return job_ != nullptr;
}

void CVerifyDlg::Start() {
    if (job_) return;
    items_.clear();
    model_->Reset({});
    summary_ = VerifySummary{};
    job_ = std::make_shared<Job>();
    VerifyOptions options;
    options.full = fullCheck->isChecked();
    std::thread([job = job_, index = indexPath_, root = discRoot_, options] {
        CIndexReader reader;
        std::string error;
        std::unique_ptr<IVerifySource> source;
        if (!reader.Open(index, OpenMode::ReadShareAll))
            error = reader.LastError();
        else
            source = OpenDiscSource(root, error);
        VerifySummary summary;
        if (source) summary = VerifyDisc(reader, *source, options, *job, &job->stop);
        std::lock_guard<std::mutex> lock(job->mutex);
        job->summary = summary;
        job->error = error;
        job->finished = true;
    }).detach();
    startButton->setText(QStringLiteral("停止"));
    fullCheck->setEnabled(false);
    saveButton->setEnabled(false);
    status->setText(QStringLiteral("正在校验..."));
    clock_.start();
    poll_.start();
}

void CVerifyDlg::Stop() {
    if (job_) job_->stop = true;
}

void CVerifyDlg::Poll() {
    if (!job_) return;
    std::vector<VerifyItem> fresh;
    VerifyProgress progress;
    bool finished;
    std::string error;
    {
        std::lock_guard<std::mutex> lock(job_->mutex);
        fresh.swap(job_->pending);
        progress = job_->progress;
        finished = job_->finished;
        if (finished) {
            summary_ = job_->summary;
            error = job_->error;
        }
    }
    const int filter = kindFilter->currentData().toInt();
    std::vector<size_t> shown;
    for (VerifyItem& item : fresh) {
        if (VerifyRowShown(item.kind, filter, problemsOnly->isChecked()))
            shown.push_back(items_.size());
        items_.push_back(std::move(item));
    }
    model_->Append(shown);
    if (progress.totalBytes > 0)
        progress_->setValue(static_cast<int>(static_cast<unsigned __int128>(progress.doneBytes) *
                                             1000 / progress.totalBytes));
    if (!finished) {
        status->setText(VerifyProgressText(
            progress.doneBytes, progress.totalBytes,
            EstimateSecondsLeft(progress.doneBytes, progress.totalBytes,
                                static_cast<double>(clock_.elapsed()) / 1000.0)));
        return;
    }
    poll_.stop();
    job_.reset();
    startButton->setText(QStringLiteral("开始"));
    fullCheck->setEnabled(true);
    saveButton->setEnabled(error.empty());
    if (!error.empty()) {
        status->setText(QString::fromStdString(error));
        return;
    }
    QString text = summary_.stopped ? QStringLiteral("已停止。") : QStringLiteral("校验完成。");
    for (int k = 0; k < kVerifyKindCount; ++k)
        text += QStringLiteral(" %1 %2").arg(
            QString::fromUtf8(VerifyKindText(static_cast<VerifyKind>(k))),
            QString::number(summary_.counts[k]));
    status->setText(text);
}

void CVerifyDlg::Refilter() {
    const int filter = kindFilter->currentData().toInt();
    std::vector<size_t> rows;
    for (size_t i = 0; i < items_.size(); ++i)
        if (VerifyRowShown(items_[i].kind, filter, problemsOnly->isChecked())) rows.push_back(i);
    model_->Reset(std::move(rows));
}

int CVerifyDlg::VisibleRows() const {
    return model_->rowCount();
}

bool CVerifyDlg::SaveReport(const QString& path) {
    return ReplaceFileAtomically(path.toStdString(),
                                 VerifyReportText(indexPath_, discRoot_, summary_, items_), true);
}

void RunVerifyDialog(IOrbShell& shell) {
    RegisterImageVerifySource();
    QWidget* parent = shell.MainWindow();
    const std::string index = shell.Document().PathName();
    if (index.empty()) {
        QMessageBox::critical(parent, QStringLiteral("提示"),
                              QStringLiteral("请先打开要校验的光盘索引"));
        return;
    }
    std::string root;
    {
        CIndexReader reader;
        if (reader.Open(index, OpenMode::ReadShareAll)) root = FindDriveHoldingDisc(reader);
    }
    if (root.empty()) {
        QMessageBox ask(QMessageBox::Question, QStringLiteral("校验光盘"),
                        QStringLiteral("没有找到放有这张光盘的驱动器。\n"
                                       "要选择一个文件夹或光盘映象文件作为光盘来校验吗?"),
                        QMessageBox::Cancel, parent);
        QPushButton* folder =
            ask.addButton(QStringLiteral("选择文件夹..."), QMessageBox::AcceptRole);
        QPushButton* image =
            ask.addButton(QStringLiteral("选择映象文件..."), QMessageBox::AcceptRole);
        ask.setDefaultButton(folder);
        ask.exec();
        if (ask.clickedButton() == folder)
            root = QFileDialog::getExistingDirectory(parent, QStringLiteral("选择光盘文件夹"))
                       .toStdString();
        else if (ask.clickedButton() == image)
            root =
                QFileDialog::getOpenFileName(
                    parent, QStringLiteral("选择光盘映象文件"), QString(),
                    QStringLiteral(
                        "光盘映象文件 (*.iso *.ISO *.img *.IMG *.udf *.bin *.BIN);;所有文件 (*)"))
                    .toStdString();
        if (root.empty()) return;
    }
    CVerifyDlg dlg(index, root, parent);
    dlg.exec();
}

}  // namespace orb
