// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog.
#include "app/dialogs/settings_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/dialogs/folder_picker.h"
#include "shell/app_settings.h"

namespace orb {

CSettingsDlg::CSettingsDlg(const std::string& currentLibrary, LibraryChosen onLibraryChosen,
                           QWidget* parent)
    : QDialog(parent), m_onLibraryChosen(std::move(onLibraryChosen)) {
    setWindowTitle(QStringLiteral("系统设置"));
    setObjectName(QStringLiteral("CSettingsDlg"));
    m_pick = [](QWidget* owner, const QString& initial, std::string& out) {
        return CFolderPicker::Pick(owner, initial, out, QStringLiteral("选择光盘库所在目录"));
    };

    auto* grid = new QGridLayout(this);
    auto* libraryLabel = new QLabel(QStringLiteral("光盘库目录:"), this);
    grid->addWidget(libraryLabel, 0, 0);
    m_library = new QLineEdit(QString::fromStdString(currentLibrary), this);
    libraryLabel->setBuddy(m_library);
    m_library->setReadOnly(true);
    m_library->setObjectName(QStringLiteral("1032"));
    m_library->setMinimumWidth(300);
    grid->addWidget(m_library, 0, 1);
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setObjectName(QStringLiteral("1036"));
    m_browse->setAccessibleName(QStringLiteral("选择光盘库目录"));
    m_browse->setAutoDefault(false);
    m_browse->setFixedWidth(m_browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    grid->addWidget(m_browse, 0, 2);

    auto* toggles = new QHBoxLayout;
    m_autoLocate = new QPushButton(QStringLiteral("光驱监视"), this);
    m_autoLocate->setObjectName(QStringLiteral("1033"));
    m_autoLocate->setCheckable(true);
    m_autoLocate->setAutoDefault(false);
    m_autoLocate->setChecked(ReadSettingInt(kKeyAutoLocate, 1) != 0);
    m_autostart = new QPushButton(QStringLiteral("开机自动运行"), this);
    m_autostart->setObjectName(QStringLiteral("1035"));
    m_autostart->setCheckable(true);
    m_autostart->setAutoDefault(false);
    m_autostart->setChecked(IsAutostartEnabled());
    toggles->addWidget(m_autoLocate);
    toggles->addWidget(m_autostart);
    toggles->addStretch(1);
    // Every choice takes effect at once; 关闭 (Enter or Escape too) only leaves.
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("IDCANCEL"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    toggles->addWidget(close);
    grid->addLayout(toggles, 1, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_browse, &QPushButton::clicked, this, &CSettingsDlg::OnBrowse);
    connect(m_autoLocate, &QPushButton::toggled, this, &CSettingsDlg::OnAutoLocate);
    connect(m_autostart, &QPushButton::toggled, this, &CSettingsDlg::OnAutostart);
}

void CSettingsDlg::OnBrowse() {
    std::string chosen;
    if (!m_pick || !m_pick(this, m_library->text(), chosen)) return;
    m_library->setText(QString::fromStdString(chosen));
    if (m_onLibraryChosen) m_onLibraryChosen(chosen);
}

void CSettingsDlg::OnAutoLocate(bool on) {
    WriteSettingInt(kKeyAutoLocate, on ? 1 : 0);
}

void CSettingsDlg::OnAutostart(bool on) {
    // A refusal leaves the button as clicked and says nothing, as a locked
    // system setting would.
    SetAutostartEnabled(on, ExecutablePath());
}

}  // namespace orb
