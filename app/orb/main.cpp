// SPDX-License-Identifier: GPL-3.0-or-later
// orb: the catalogue program.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

#include "app/app/orb_app.h"
#include "app/app/quit_signals.h"
#include "app/frame/frame_rules.h"
#include "platform/qt/qt_picture.h"
#include "search/index/library_name_index.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane光盘助手"));
    QApplication::setOrganizationName(QStringLiteral("KelvaneSoft"));
    QApplication::setDesktopFileName(QStringLiteral("kelvane-orb"));
    // Type names and standard texts follow the program's language, not the host's.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    // Qt's own buttons and file dialogs in Chinese when the translations are there.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    // Cover pictures decode through QtGui.
    orb::InstallQtPictureDecoder();

    QStringList args = QApplication::arguments();
    args.removeFirst();
    const orb::CommandLine cl = orb::ParseCommandLine(args);
    const QString serverName = orb::COrbApp::DefaultServerName();
    switch (orb::COrbApp::HandOverToRunningInstance(serverName, cl)) {
        case orb::HandOverResult::Delivered:
            return 0;
        case orb::HandOverResult::NoAnswer:
            std::fprintf(stderr, "orb: the running program did not answer at %s\n",
                         serverName.toLocal8Bit().constData());
            return 1;
        case orb::HandOverResult::NoInstance:
            break;
    }

    // The search keeps a large library's name index open, several files per disc.
    orb::RaiseOpenFileLimit();
    orb::COrbApp orbApp;
    // Termination signals close the window like the user would, so the pending
    // annotation edit and the recent files are saved.
    orb::CQuitSignals quitSignals;
    QObject::connect(&quitSignals, &orb::CQuitSignals::quitRequested, &orbApp,
                     &orb::COrbApp::RequestQuit);
    if (!orbApp.InitInstance(args)) return 1;
    return app.exec();
}
