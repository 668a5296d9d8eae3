// SPDX-License-Identifier: GPL-3.0-or-later
// A window with the three disc views and the cover panel over a small demo index,
// for looking at them by eye (not a test). Usage: views_demo [style 0-3] [index.orb]
#include <QApplication>
#include <QBuffer>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QSettings>
#include <QSplitter>
#include <QTimer>

#include "platform/drives.h"
#include "platform/qt/qt_picture.h"
#include "tests/support/fake_shell.h"
#include "tests/views/views_test_util.h"
#include "views/cover_info_panel.h"
#include "views/dir_view.h"
#include "views/orb_view.h"
#include "views/remark_view.h"

using namespace orb;

namespace {

std::string DemoCover() {
    QImage image(300, 420, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 300, 420);
    g.setColorAt(0, QColor(30, 60, 140));
    g.setColorAt(1, QColor(120, 180, 230));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(40);
    p.setFont(f);
    p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("软件合集\n2003"));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

void WriteDemoIndex(const std::string& path) {
    CScanTree t;
    const FILETIME day = test::Day(1057276800);
    auto s = [](const char* utf8) { return HostToStored(utf8); };
    const ScanNodeId setup = t.Append(kNoNode, kEntryDirectory, 0, day, s("安装程序"));
    const ScanNodeId tools = t.Append(setup, kEntryDirectory, 0, day, "tools");
    t.Append(tools, 0, 1234567, day, "setup.exe");
    t.Append(setup, kEntryDirectory, 0, day, s("驱动"));
    t.Append(setup, 0, 511, day, "readme.txt");
    const ScanNodeId docs = t.Append(kNoNode, kEntryDirectory, 0, test::Day(1000000000), s("文档"));
    t.Append(docs, 0, 409600, day, s("用户手册.pdf"));
    t.Append(kNoNode, kEntryDirectory, 0, day, "Music");
    t.Append(kNoNode, 0, 2048, test::Day(1100000000), "autorun.inf");
    t.Append(kNoNode, 0, 15360, test::Day(900000000), s("说明.txt"));
    t.Append(kNoNode, 0, 734003200, day, "disc1.iso");
    t.Append(kNoNode, 0, 5000000000ULL, day, "dvd.iso");
    t.Append(kNoNode, 0, 81920, day, "setup.exe");
    t.Append(kNoNode, 0, 3145728, day, s("封面.jpg"));
    t.Append(kNoNode, 0, 4500000, day, "song.mp3");
    t.Append(kNoNode, 0, 1000, day, "README");
    const std::string cover = DemoCover();
    test::WriteIndex(path, t, "SOFT_2003", 681574400, cover);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    InstallQtPictureDecoder();
    test::TempDir dir;
    // Settings go to the scratch folder, not the user's store.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.path()));
    const int style = argc > 1 ? std::atoi(argv[1]) : kStyleReport;
    std::string path = argc > 2 ? argv[2] : dir / "demo.orb";
    if (argc <= 2) WriteDemoIndex(path);
    // The disc sits in a virtual drive, so copy, open and explore are offered.
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{dir.path(), "SOFT_2003", 681574400, false}}));

    test::CFakeShell shell;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Kelvane光盘助手 - 视图演示"));
    auto* layout = new QHBoxLayout(&window);
    auto* cover = new CCoverInfoPanel(&window);
    cover->setMinimumWidth(270);
    auto* split = new QSplitter(Qt::Horizontal, &window);
    auto* tree = new CCDDirView(shell.doc, shell, split);
    auto* right = new QSplitter(Qt::Vertical, split);
    auto* list = new COrbView(shell.doc, shell, right);
    auto* remark = new CRemarkView(shell.doc, right);
    shell.dirView = tree;
    shell.fileView = list;
    shell.remarkView = remark;
    split->setSizes({220, 700});
    right->setSizes({450, 200});
    layout->addWidget(cover);
    layout->addWidget(split, 1);
    list->SetViewStyle(style);
    window.resize(1260, 800);
    window.show();

    shell.doc.OnOpenDocument(path);
    CIndexReader coverReader;
    coverReader.Open(path, OpenMode::ReadShareAll);
    cover->ShowIndex(&coverReader);
    tree->SelectDirectoryByPath("SOFT_2003:\\");
    auto& model = list->ListCtrl().Model();
    const int32_t id = model.Item(model.FindRow(HostToStored("安装程序"))).id;
    shell.doc.Index().SetAnnotation(id, HostToStored("这是安装程序的目录，包含所有驱动。"));
    list->SelectItemByName(HostToStored("安装程序"));
    return app.exec();
}
