// SPDX-License-Identifier: GPL-3.0-or-later
// The remark editor: a multi-line edit and the buttons "修改" and "取消".
#include "library/pane/remark_edit_dlg.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ui_font.h"

namespace orb {

CRemarkEditDlg::CRemarkEditDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("修改Kelvane光盘索引备注"));
    setFont(SongtiFont(12));
    edit_ = new QPlainTextEdit(this);
    edit_->setObjectName("1005");
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    modify_ = new QPushButton(QString::fromUtf8("修改"), this);
    modify_->setObjectName("1");
    modify_->setDefault(true);
    auto* cancel = new QPushButton(QString::fromUtf8("取消"), this);
    cancel->setObjectName("2");
    connect(modify_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(modify_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_, 1);
    layout->addLayout(buttons);
    resize(420, 300);
}

void CRemarkEditDlg::SetRemark(const QString& text) {
    edit_->setPlainText(text);
}

QString CRemarkEditDlg::Remark() const {
    return edit_->toPlainText();
}

}  // namespace orb
