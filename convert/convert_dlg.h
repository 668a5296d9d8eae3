// SPDX-License-Identifier: GPL-3.0-or-later
// The converter's one dialog: pick the library directory, convert it, report.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <thread>

#include "convert/converter.h"

class QLineEdit;
class QPushButton;

namespace orb {

// The library directory recorded as "CDROMLIB" in group "Settings" of the
// program's settings store; empty when it is missing.
QString ReadStoredLibraryDirectory();

class CConvertDlg : public QDialog {
    Q_OBJECT
public:
    // Returns the chosen folder, or an empty text when the user cancelled.
    using FolderPicker = std::function<QString(QWidget* parent, const QString& title)>;
    using MessageShower =
        std::function<void(QWidget* parent, const QString& caption, const QString& text)>;

    explicit CConvertDlg(QWidget* parent = nullptr);
    ~CConvertDlg() override;

    // Tests put their own picker and message box in place of the real ones.
    void SetFolderPicker(FolderPicker picker) { pickFolder_ = std::move(picker); }
    void SetMessageShower(MessageShower shower) { showMessage_ = std::move(shower); }

    bool IsConverting() const { return worker_.joinable(); }
    const ConvertSummary& LastSummary() const { return lastSummary_; }

public slots:
    void OnBrowse();
    void OnConvert();

signals:
    void ConversionFinished();

protected:
    void reject() override;

private:
    void OnWorkerDone(ConvertSummary summary);

    QLineEdit* directoryEdit_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QPushButton* convertButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    FolderPicker pickFolder_;
    MessageShower showMessage_;
    std::thread worker_;
    ConvertSummary lastSummary_;
};

}  // namespace orb
