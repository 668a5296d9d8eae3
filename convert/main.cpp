// SPDX-License-Identifier: GPL-3.0-or-later
// orb22to30: upgrades a disc library written by release 2.2 to the current index
// format. Without arguments it shows its dialog; "--convert DIR" converts DIR
// unattended and needs no display.
#include <QApplication>
#include <cstring>
#include <iostream>

#include "convert/convert_dlg.h"
#include "convert/converter.h"

int main(int argc, char* argv[]) {
    if (argc >= 2 && std::strcmp(argv[1], "--convert") == 0) {
        if (argc != 3) {
            std::cerr << "用法: orb22to30 --convert 光盘库目录" << std::endl;
            return 2;
        }
        return orb::ConvertForCommandLine(argv[2], std::cout);
    }
    QApplication app(argc, argv);
    orb::CConvertDlg dialog;
    app.setWindowIcon(dialog.windowIcon());
    dialog.exec();
    return 0;
}
