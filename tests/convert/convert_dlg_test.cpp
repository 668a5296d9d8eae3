// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/convert_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "tests/convert/old_layout.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

// Settings go to a scratch directory, never to the user's own store.
class ConvertDlgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static QApplication app(argc, argv);
        static test::TempDir settingsDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(settingsDir.path()));
    }
    void SetStoredDirectory(const QString* value) {
        QSettings settings(QStringLiteral("KelvaneSoft"), QStringLiteral("Kelvane光盘助手"));
        if (value)
            settings.setValue(QStringLiteral("Settings/CDROMLIB"), *value);
        else
            settings.remove(QStringLiteral("Settings/CDROMLIB"));
        settings.sync();
    }
    static QLineEdit* Edit(CConvertDlg& d) {
        return d.findChild<QLineEdit*>(QStringLiteral("directoryEdit"));
    }
    static QPushButton* Button(CConvertDlg& d, const char* name) {
        return d.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    // Clicks convert and waits (bounded) for the worker's report.
    static bool ConvertAndWait(CConvertDlg& d) {
        QEventLoop loop;
        QObject::connect(&d, &CConvertDlg::ConversionFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        Button(d, "convertButton")->click();
        loop.exec();
        return !d.IsConverting();
    }
};

TEST_F(ConvertDlgTest, WidgetsCarryTheirTexts) {
    SetStoredDirectory(nullptr);
    CConvertDlg d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Kelvane光盘助手索引文件格式转换工具"));
    EXPECT_FALSE(d.windowIcon().isNull());
    ASSERT_NE(Edit(d), nullptr);
    EXPECT_TRUE(Edit(d)->text().isEmpty());
    EXPECT_EQ(Button(d, "convertButton")->text(), QStringLiteral("转换"));
    EXPECT_TRUE(Button(d, "convertButton")->isDefault());
    EXPECT_EQ(Button(d, "exitButton")->text(), QStringLiteral("退出"));
    EXPECT_EQ(Button(d, "browseButton")->text(), QStringLiteral("..."));
    QStringList labels;
    for (QLabel* l : d.findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains(QStringLiteral("光盘库目录:")));
    EXPECT_TRUE(labels.contains(QStringLiteral(
        "本工具是专为Kelvane光盘助手2.2版及以前版本转换为3.0可以使用的工具，您只需要选择好光盘库"
        "所在目录，再点击转换按钮即可。转换时系统会自动保存光盘索引的封面及注释，但对于光盘内单"
        "个文件的注释，则会自动丢弃（实现转换有难度）！")));
    auto* group = d.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("使用说明"));
}

TEST_F(ConvertDlgTest, EditBoxStartsWithTheStoredLibraryDirectory) {
    const QString stored = QStringLiteral("/媒体/光盘库");
    SetStoredDirectory(&stored);
    CConvertDlg d;
    EXPECT_EQ(Edit(d)->text(), stored);
    SetStoredDirectory(nullptr);
}

TEST_F(ConvertDlgTest, BrowsePutsTheChosenFolderAndCancelLeavesTheBox) {
    SetStoredDirectory(nullptr);
    CConvertDlg d;
    Edit(d)->setText(QStringLiteral("/before"));
    QString askedTitle;
    QString answer;  // empty: the user cancelled
    d.SetFolderPicker([&](QWidget*, const QString& title) {
        askedTitle = title;
        return answer;
    });
    Button(d, "browseButton")->click();
    EXPECT_EQ(askedTitle, QStringLiteral("选择目标文件夹"));
    EXPECT_EQ(Edit(d)->text(), QStringLiteral("/before"));
    answer = QStringLiteral("/chosen/库");
    Button(d, "browseButton")->click();
    EXPECT_EQ(Edit(d)->text(), answer);
}

TEST_F(ConvertDlgTest, ConvertReportsSuccessOrTheFailures) {
    SetStoredDirectory(nullptr);
    test::TempDir lib;
    test::OldIndex idx;
    idx.label = "DISC";
    idx.top = {test::OldEntry{"f.txt", false, 1, 2, {}}};
    test::WriteFile(lib / "a.orb", test::BuildOldIndex(idx));

    CConvertDlg d;
    QString caption, text;
    int shown = 0;
    d.SetMessageShower([&](QWidget*, const QString& c, const QString& t) {
        caption = c;
        text = t;
        ++shown;
    });
    Edit(d)->setText(QString::fromStdString(lib.path()));
    ASSERT_TRUE(ConvertAndWait(d));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(caption, QStringLiteral("提示"));
    EXPECT_EQ(text, QStringLiteral("转换成功!"));
    EXPECT_TRUE(d.isEnabled());
    EXPECT_EQ(test::ReadFile(lib / "a.orb").substr(0, 4), "ORBF");

    test::WriteFile(lib / "bad.orb", "short");
    ASSERT_TRUE(ConvertAndWait(d));
    EXPECT_EQ(shown, 2);
    EXPECT_NE(text, QStringLiteral("转换成功!"));
    EXPECT_TRUE(text.contains(QString::fromStdString(lib / "bad.orb")));
    EXPECT_EQ(d.LastSummary().alreadyNew, 1u);
    EXPECT_EQ(d.LastSummary().failed, 1u);
}

}  // namespace
}  // namespace orb
