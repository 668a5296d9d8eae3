// SPDX-License-Identifier: GPL-3.0-or-later
// The save-location dialog of the new disc image dialog and of the frame's
// "同步打开的索引到光盘库".
#include "library/newdisc/library_location_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "library/tree/library_tree.h"
#include "shell/app_settings.h"

namespace orb {

CLibraryLocationDlg::CLibraryLocationDlg(CLibraryTree* tree, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("选择光盘文件保存位置"));

    m_pathEdit = new QLineEdit(this);
    m_pathEdit->setReadOnly(true);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    m_tree = new CLibraryTree(this);
    m_tree->setObjectName(QStringLiteral("locationTree"));
    m_tree->SetShowDiscs(0);
    m_tree->setRootIsDecorated(true);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("路径:"), this));
    pathRow->addWidget(m_pathEdit, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pathRow);
    layout->addWidget(m_tree, 1);
    layout->addWidget(buttons);
    resize(320, 360);

    std::string root = tree ? tree->GetLibraryRoot() : std::string();
    if (root.empty()) root = GetLibraryDirectory();
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
    m_tree->FillLibrary(root);
    m_tree->setCurrentItem(m_tree->RootItem());
    OnCurrentItemChanged(m_tree->RootItem());
}

bool CLibraryLocationDlg::SelectPath(const std::string& path) {
    QTreeWidgetItem* item = m_tree->FindItemByPath(path);
    if (!item) return false;
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
    return true;
}

void CLibraryLocationDlg::OnCurrentItemChanged(QTreeWidgetItem* current) {
    m_path = current ? m_tree->GetItemPath(current, false) : std::string();
    m_pathEdit->setText(QString::fromStdString(m_path));
}

}  // namespace orb
