// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg "关于 Kelvane光盘助手".
#pragma once

#include <QDialog>
#include <functional>

class QUrl;

namespace orb {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kWebAddress = "https://kelvane.example.org/";
    static constexpr const char* kMailAddress = "support@kelvane.example.org";
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Hands a link to the desktop; false when no program took it (then the box
    // says so, with the address).
    std::function<bool(const QUrl&)> openUrl;

private:
    void OpenLink(const QString& link);
};

}  // namespace orb
