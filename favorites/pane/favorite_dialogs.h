// SPDX-License-Identifier: GPL-3.0-or-later
// The three small dialogs of the favourites: category name, add software, edit
// remark.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace orb {

// Remarks are stored with "\r\n" line ends (the file is shared with Windows); the
// edit boxes work with "\n".
QString RemarkToEditor(const QString& remark);
QString RemarkFromEditor(const QString& text);

// How a dialog refuses its input: a message box, or a recorder in tests.
using FavoriteRefusal = std::function<void(const QString& text)>;

// "输入软件分类": a category text, sub-categories separated by "\".
class CCategoryDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCategoryDlg(QWidget* parent = nullptr);
    QString Text() const;
    QLineEdit* Edit() const { return m_edit; }
    void SetRefusal(FavoriteRefusal refusal) { m_refuse = std::move(refusal); }

    // Refuses a text with a name of 100 bytes or more and stays open.
    void accept() override;

private:
    QLineEdit* m_edit;
    FavoriteRefusal m_refuse;
};

// "新增软件收藏": parent category (read-only), child category, name and description.
class CAddFavoriteDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kDescriptionTemplate = "版本:\r\n用户信息:\r\n备注:";

    explicit CAddFavoriteDlg(QWidget* parent = nullptr);

    void SetParentCategory(const QString& text);
    void SetChildCategory(const QString& text);
    void SetName(const QString& text);
    QString ParentCategory() const;
    QString ChildCategory() const;
    QString Name() const;
    // The description with "\r\n" line ends, as it is stored.
    QString Description() const;

    QLineEdit* ParentEdit() const { return m_parent; }
    QLineEdit* ChildEdit() const { return m_child; }
    QLineEdit* NameEdit() const { return m_name; }
    QPlainTextEdit* DescriptionEdit() const { return m_description; }
    void SetRefusal(FavoriteRefusal refusal) { m_refuse = std::move(refusal); }

    // Refuses an empty name and names of 100 bytes or more (the software's or a
    // category's) and stays open, so the user can mend them.
    void accept() override;

private:
    QLineEdit* m_parent;
    QLineEdit* m_child;
    QLineEdit* m_name;
    QPlainTextEdit* m_description;
    FavoriteRefusal m_refuse;
};

// "修改软件备注": the software's name and its remark. Enter confirms the dialog;
// Ctrl+Enter starts a new line.
class CEditRemarkDlg : public QDialog {
    Q_OBJECT
public:
    explicit CEditRemarkDlg(QWidget* parent = nullptr);

    void SetSoftwareName(const QString& name);
    // Stored-form text ("\r\n" line ends); empty for a software without remark.
    void SetRemark(const QString& remark);
    QString Remark() const;

    QLineEdit* NameEdit() const { return m_name; }
    QPlainTextEdit* RemarkEdit() const { return m_remark; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_name;
    QPlainTextEdit* m_remark;
};

}  // namespace orb
