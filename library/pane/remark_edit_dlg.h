// SPDX-License-Identifier: GPL-3.0-or-later
// CRemarkEditDlg: edits the remark of a disc index ("修改Kelvane光盘索引备注").
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace orb {

class CRemarkEditDlg : public QDialog {
    Q_OBJECT

public:
    explicit CRemarkEditDlg(QWidget* parent = nullptr);

    // Set before exec(), read after it ended with Accepted.
    void SetRemark(const QString& text);
    QString Remark() const;

    QPlainTextEdit* Editor() const { return edit_; }
    QPushButton* ModifyButton() const { return modify_; }

private:
    QPlainTextEdit* edit_ = nullptr;
    QPushButton* modify_ = nullptr;
};

}  // namespace orb
