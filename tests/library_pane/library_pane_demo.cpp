// SPDX-License-Identifier: GPL-3.0-or-later
// A window holding only the library pane over a scratch library, for looking at
// it by hand (not a test): library_pane_demo [cover]
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <string>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "library/pane/library_pane.h"
#include "platform/text.h"
#include "shell/app_settings.h"
#include "tests/support/fake_shell.h"
#include "ui/page_tab_ctrl.h"

namespace {

std::string CoverPng() {
    QImage image(240, 240, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 240, 240);
    g.setColorAt(0, QColor(30, 70, 150));
    g.setColorAt(1, QColor(200, 120, 40));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    p.setFont(QFont("Noto Sans CJK SC", 28));
    p.drawText(image.rect(), Qt::AlignCenter, QString::fromUtf8("办公软件\n2024"));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

void Disc(const std::string& path, const std::string& label, const std::string& remark,
          const std::string& cover) {
    orb::CScanTree tree;
    orb::FILETIME t{};
    auto d = tree.Append(orb::kNoNode, orb::kEntryDirectory, 0, t, "setup");
    tree.Append(d, 0, 123456, t, "setup.exe");
    tree.Append(orb::kNoNode, 0, 2048, t, "readme.txt");
    orb::IndexHeader h;
    orb::SetHeaderLabel(h, orb::HostToStored(label));
    h.capacity = 681574400;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    orb::IndexWriteOptions o;
    const std::string stored = orb::HostToStored(remark);
    o.remark = stored;
    o.cover = cover;
    orb::WriteIndexFile(path, h, tree, o);
}

}  // namespace

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/orbpanedemo-XXXXXX";
    std::string root = ::mkdtemp(tmpl);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    root += "/lib/";
    QApplication app(argc, argv);
    ::mkdir(root.c_str(), 0755);
    for (const char* c : {"办公软件", "游戏", "驱动程序", "学习资料"})
        ::mkdir((root + c).c_str(), 0755);
    ::mkdir((root + "游戏/角色扮演").c_str(), 0755);
    const std::string cover = CoverPng();
    Disc(root + "办公软件/Office 2003.orb", "OFFICE2003",
         "Microsoft Office 2003 简体中文专业版\r\n安装序列号见光盘盒背面。\r\n包含 Word、Excel、"
         "PowerPoint、Access。",
         cover);
    Disc(root + "办公软件/WPS 2005.orb", "WPS2005", "金山 WPS Office 2005", std::string());
    Disc(root + "游戏/仙剑奇侠传.orb", "PAL", "仙剑奇侠传 98 柔情版", std::string());
    Disc(root + "驱动程序/主板驱动.orb", "DRIVERS", "主板随机光盘", std::string());
    Disc(root + "备份 2006-05.orb", "BACKUP", "五月份的备份", std::string());
    orb::StoreLibraryDirectory(root);

    orb::test::CFakeShell shell;
    orb::CLibraryPane pane(shell);
    pane.setWindowTitle(QString::fromUtf8("光盘库"));
    pane.resize(280, 640);
    pane.move(20, 20);
    pane.show();
    pane.Tree()->SelectItemByPath(root + "办公软件/Office 2003");
    if (argc > 1 && std::string(argv[1]) == "cover") pane.Tabs()->SetCurrentPage(1);
    return app.exec();
}
