// SPDX-License-Identifier: GPL-3.0-or-later
// CSettingsDlg "系统设置": the library directory, drive monitoring and run at logon.
// Every change takes effect at the click; closing changes nothing further.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

namespace orb {

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // Asks for a folder; true and the folder when the user confirmed one.
    using PickFolder =
        std::function<bool(QWidget* parent, const QString& initial, std::string& out)>;
    // Hands a newly chosen library directory to the panes (library pane, search
    // scope, favourites, in that order).
    using LibraryChosen = std::function<void(const std::string& path)>;

    CSettingsDlg(const std::string& currentLibrary, LibraryChosen onLibraryChosen,
                 QWidget* parent = nullptr);
    // Tests replace the folder picker.
    void SetFolderPicker(PickFolder picker) { m_pick = std::move(picker); }

    QLineEdit* LibraryEdit() const { return m_library; }
    QPushButton* BrowseButton() const { return m_browse; }
    QPushButton* AutoLocateButton() const { return m_autoLocate; }
    QPushButton* AutostartButton() const { return m_autostart; }

private:
    void OnBrowse();
    void OnAutoLocate(bool on);
    void OnAutostart(bool on);

    QLineEdit* m_library;
    QPushButton* m_browse;
    QPushButton* m_autoLocate;
    QPushButton* m_autostart;
    LibraryChosen m_onLibraryChosen;
    PickFolder m_pick;
};

}  // namespace orb
