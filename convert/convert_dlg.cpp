// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/convert_dlg.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "platform/threads.h"

// Resources of a static library must be registered by name, outside any namespace.
static void InitConvertResources() {
    Q_INIT_RESOURCE(convert);
}

namespace orb {

namespace {

const char* const kTitle = "Kelvane光盘助手索引文件格式转换工具";
const char* const kInstructions =
    "本工具是专为Kelvane光盘助手2.2版及以前版本转换为3.0可以使用的工具，您只需要选择好光盘库"
    "所在目录，再点击转换按钮即可。转换时系统会自动保存光盘索引的封面及注释，但对于光盘内单个"
    "文件的注释，则会自动丢弃（实现转换有难度）！";

QString DefaultPickFolder(QWidget* parent, const QString& title) {
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

void DefaultShowMessage(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

QString ReadStoredLibraryDirectory() {
    QSettings settings(QStringLiteral("KelvaneSoft"), QStringLiteral("Kelvane光盘助手"));
    settings.beginGroup(QStringLiteral("Settings"));
    return settings.value(QStringLiteral("CDROMLIB")).toString();
}

CConvertDlg::CConvertDlg(QWidget* parent)
    : QDialog(parent), pickFolder_(DefaultPickFolder), showMessage_(DefaultShowMessage) {
    InitConvertResources();
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowIcon(QIcon(QStringLiteral(":/convert/orb22to30.png")));

    auto* dirLabel = new QLabel(QStringLiteral("光盘库目录:"), this);
    directoryEdit_ = new QLineEdit(ReadStoredLibraryDirectory(), this);
    directoryEdit_->setObjectName(QStringLiteral("directoryEdit"));
    dirLabel->setBuddy(directoryEdit_);
    browseButton_ = new QPushButton(QStringLiteral("..."), this);
    browseButton_->setObjectName(QStringLiteral("browseButton"));
    browseButton_->setAutoDefault(false);
    browseButton_->setMaximumWidth(
        browseButton_->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);

    auto* group = new QGroupBox(QStringLiteral("使用说明"), this);
    auto* instructions = new QLabel(QString::fromUtf8(kInstructions), group);
    instructions->setObjectName(QStringLiteral("instructionsLabel"));
    instructions->setWordWrap(true);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(instructions);

    convertButton_ = new QPushButton(QStringLiteral("转换"), this);
    convertButton_->setObjectName(QStringLiteral("convertButton"));
    convertButton_->setDefault(true);
    exitButton_ = new QPushButton(QStringLiteral("退出"), this);
    exitButton_->setObjectName(QStringLiteral("exitButton"));
    exitButton_->setAutoDefault(false);

    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(dirLabel);
    dirRow->addWidget(directoryEdit_, 1);
    dirRow->addWidget(browseButton_);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(convertButton_);
    buttonRow->addWidget(exitButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(dirRow);
    layout->addWidget(group, 1);
    layout->addLayout(buttonRow);
    resize(420, sizeHint().height());

    connect(browseButton_, &QPushButton::clicked, this, &CConvertDlg::OnBrowse);
    connect(convertButton_, &QPushButton::clicked, this, &CConvertDlg::OnConvert);
    connect(exitButton_, &QPushButton::clicked, this, &CConvertDlg::reject);
}

CConvertDlg::~CConvertDlg() {
    if (worker_.joinable()) worker_.join();
}

void CConvertDlg::OnBrowse() {
    const QString chosen = pickFolder_(this, QStringLiteral("选择目标文件夹"));
    if (!chosen.isEmpty()) directoryEdit_->setText(chosen);
}

void CConvertDlg::OnConvert() {
    if (IsConverting()) return;
    const std::string directory = QFile::encodeName(directoryEdit_->text()).toStdString();
    // The dialog stays responsive but takes no input until the worker reports.
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    worker_ = std::thread([this, directory] {
        LowerCurrentThreadPriority();
        ConvertSummary summary = ConvertLibraryDirectory(directory);
        QMetaObject::invokeMethod(
            this,
            [this, summary = std::move(summary)]() mutable { OnWorkerDone(std::move(summary)); },
            Qt::QueuedConnection);
    });
}

void CConvertDlg::OnWorkerDone(ConvertSummary summary) {
    if (worker_.joinable()) worker_.join();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    lastSummary_ = std::move(summary);
    showMessage_(this, QStringLiteral("提示"),
                 QString::fromStdString(ConversionMessage(lastSummary_)));
    emit ConversionFinished();
}

void CConvertDlg::reject() {
    // Closing while files are being replaced would end the program mid-file.
    if (IsConverting()) return;
    QDialog::reject();
}

}  // namespace orb
