// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg "关于 Kelvane光盘助手".
#pragma once

#include <QDialog>

namespace orb {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kWebAddress = "https://kelvane.example.org/";
    static constexpr const char* kMailAddress = "support@kelvane.example.org";
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace orb
