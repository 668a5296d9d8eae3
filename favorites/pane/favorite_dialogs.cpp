// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites' dialogs.
#include "favorites/pane/favorite_dialogs.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "favorites/pane/favorite_rules.h"
#include "platform/text.h"

namespace orb {

namespace {

std::string Stored(const QString& text) {
    return HostToStored(text.toStdString());
}

FavoriteRefusal DefaultRefusal(QWidget* owner) {
    return [owner](const QString& text) {
        QMessageBox::critical(owner, QString::fromUtf8(kFavCaptionError), text);
    };
}

// OK (default) and cancel, right-aligned, with the dialog's own texts.
QDialogButtonBox* Buttons(QDialog* dialog, const char* okText) {
    auto* box = new QDialogButtonBox(dialog);
    QPushButton* ok = box->addButton(QString::fromUtf8(okText), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    QPushButton* cancel = box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

QLineEdit* NewEdit(QWidget* parent, const char* id) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(id));
    return edit;
}

// A read-only field looks like one: on the dialog's own background.
void MakeReadOnly(QLineEdit* edit) {
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setBrush(QPalette::Base, palette.brush(QPalette::Window));
    edit->setPalette(palette);
}

QPlainTextEdit* NewTextBox(QWidget* parent) {
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(QStringLiteral("1005"));
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setTabChangesFocus(true);
    return box;
}

}  // namespace

QString RemarkToEditor(const QString& remark) {
    QString text = remark;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString RemarkFromEditor(const QString& text) {
    QString remark = text;
    remark.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    remark.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return remark;
}

// ---------------------------------------------------------------------------------

CCategoryDlg::CCategoryDlg(QWidget* parent) : QDialog(parent), m_refuse(DefaultRefusal(this)) {
    setObjectName(QStringLiteral("CCategoryDlg"));
    setWindowTitle(QStringLiteral("输入软件分类"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("类型名称(可以包含子分类,如：a\\b\\c\\):"), this));
    m_edit = NewEdit(this, "101");
    m_edit->setMinimumWidth(280);
    layout->addWidget(m_edit);
    layout->addWidget(Buttons(this, "确定"));
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CCategoryDlg::Text() const {
    return m_edit->text();
}

void CCategoryDlg::accept() {
    std::vector<std::string> names;
    if (SplitCategoryPath(Stored(Text()), names) == FavoriteStatus::NameTooLong) {
        if (m_refuse) m_refuse(QString::fromUtf8(kFavMsgNameTooLong));
        m_edit->setFocus();
        return;
    }
    QDialog::accept();
}

// ---------------------------------------------------------------------------------

CAddFavoriteDlg::CAddFavoriteDlg(QWidget* parent)
    : QDialog(parent), m_refuse(DefaultRefusal(this)) {
    setObjectName(QStringLiteral("CAddFavoriteDlg"));
    setWindowTitle(QStringLiteral("新增软件收藏"));
    auto* grid = new QGridLayout(this);
    m_parent = NewEdit(this, "1023");
    MakeReadOnly(m_parent);
    m_child = NewEdit(this, "1024");
    m_name = NewEdit(this, "1019");
    m_description = NewTextBox(this);
    // Enter starts a new line here: the description spans several.
    m_description->setPlainText(RemarkToEditor(QString::fromUtf8(kDescriptionTemplate)));
    m_description->setMinimumSize(320, 110);

    int row = 0;
    auto addRow = [&](const char* label, QWidget* field) {
        auto* text = new QLabel(QString::fromUtf8(label), this);
        text->setBuddy(field);
        grid->addWidget(text, row, 0, Qt::AlignRight | Qt::AlignTop);
        grid->addWidget(field, row, 1);
        ++row;
    };
    addRow("父分类:", m_parent);
    addRow("子分类:", m_child);
    addRow("名称:", m_name);
    addRow("说明:", m_description);
    grid->addWidget(Buttons(this, "加入收藏"), row, 0, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(1, 1);
    m_name->setFocus();
}

void CAddFavoriteDlg::SetParentCategory(const QString& text) {
    m_parent->setText(text);
}
void CAddFavoriteDlg::SetChildCategory(const QString& text) {
    m_child->setText(text);
}
void CAddFavoriteDlg::SetName(const QString& text) {
    m_name->setText(text);
}
QString CAddFavoriteDlg::ParentCategory() const {
    return m_parent->text();
}
QString CAddFavoriteDlg::ChildCategory() const {
    return m_child->text();
}
QString CAddFavoriteDlg::Name() const {
    return m_name->text();
}
QString CAddFavoriteDlg::Description() const {
    return RemarkFromEditor(m_description->toPlainText());
}

void CAddFavoriteDlg::accept() {
    const FavoriteStatus st = CheckAddFavoriteInput(Stored(Name()), Stored(ChildCategory()));
    if (st != FavoriteStatus::Ok) {
        if (m_refuse) m_refuse(QString::fromUtf8(FavoriteRefusalText(st)));
        (st == FavoriteStatus::NameTooLong &&
                 CheckFavoriteName(Stored(Name())) == FavoriteStatus::Ok
             ? m_child
             : m_name)
            ->setFocus();
        return;
    }
    QDialog::accept();
}

// ---------------------------------------------------------------------------------

CEditRemarkDlg::CEditRemarkDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CEditRemarkDlg"));
    setWindowTitle(QStringLiteral("修改软件备注"));
    auto* grid = new QGridLayout(this);
    m_name = NewEdit(this, "1029");
    MakeReadOnly(m_name);
    m_remark = NewTextBox(this);
    m_remark->setMinimumSize(320, 140);
    m_remark->installEventFilter(this);
    auto* label = new QLabel(QStringLiteral("软件名称:"), this);
    label->setBuddy(m_name);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(m_remark, 1, 0, 1, 2);
    grid->addWidget(Buttons(this, "确定"), 2, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);
    m_remark->setFocus();
}

void CEditRemarkDlg::SetSoftwareName(const QString& name) {
    m_name->setText(name);
}
void CEditRemarkDlg::SetRemark(const QString& remark) {
    m_remark->setPlainText(RemarkToEditor(remark));
}
QString CEditRemarkDlg::Remark() const {
    return RemarkFromEditor(m_remark->toPlainText());
}

bool CEditRemarkDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_remark && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ControlModifier) {
                m_remark->insertPlainText(QStringLiteral("\n"));
            } else {
                accept();
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace orb
