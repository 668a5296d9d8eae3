// SPDX-License-Identifier: GPL-3.0-or-later
// The verify and duplicates dialogs by behaviour, offscreen: their workers, the
// result filters, the saved report, the scope and opening a copy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include "audit/pane/audit_rules.h"
#include "audit/pane/dupes_dlg.h"
#include "audit/pane/dupes_model.h"
#include "platform/text.h"
#include "audit/pane/verify_dlg.h"
#include "audit/ui/export_file.h"
#include "search/pane/search_scope_tree.h"
#include "tests/app/app_test_util.h"
#include "tests/audit/audit_test_util.h"
#include "tests/support/fake_shell.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;
using test::WriteFile;

struct AppFirst {
    AppFirst() { test::EnsureApp(); }
};

class VerifyDlgTest : public ::testing::Test, private AppFirst {
protected:
    void SetUp() override {
        disc = tmp / "disc";
        test::MakeDir(disc);
        WriteFile(disc + "/a.txt", "aaa");
        WriteFile(disc + "/b.txt", "bbb");
        WriteFile(disc + "/c.txt", "ccc");
        index = tmp / "disc.orb";
        ASSERT_TRUE(test::CatalogueFolder(disc, index));
        WriteFile(disc + "/a.txt", "longer");
        ::unlink((disc + "/b.txt").c_str());
    }
    TempDir tmp;
    std::string disc, index;
};

TEST_F(VerifyDlgTest, RunsFiltersAndSavesTheReport) {
    CVerifyDlg dlg(index, disc);
    dlg.fullCheck->setChecked(true);
    dlg.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRunning(); }, 30000));
    EXPECT_EQ(dlg.Items().size(), 3u);
    EXPECT_EQ(dlg.VisibleRows(), 3);
    dlg.problemsOnly->setChecked(true);
    EXPECT_EQ(dlg.VisibleRows(), 2);
    dlg.kindFilter->setCurrentIndex(
        dlg.kindFilter->findData(static_cast<int>(VerifyKind::Missing)));
    EXPECT_EQ(dlg.VisibleRows(), 1);
    ASSERT_TRUE(dlg.SaveReport(QString::fromStdString(tmp / "report.txt")));
    const std::string report = test::ReadFile(tmp / "report.txt");
    EXPECT_NE(report.find("changed-size\ta.txt\tsize 3 -> 6\n"), std::string::npos) << report;
    EXPECT_NE(report.find("missing\tb.txt\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("c.txt"), std::string::npos) << report;
}

TEST_F(VerifyDlgTest, ADiscThatCannotBeOpenedEndsWithItsReason) {
    CVerifyDlg dlg(index, tmp / "nowhere");
    dlg.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRunning(); }, 30000));
    EXPECT_TRUE(dlg.Items().empty());
    EXPECT_TRUE(dlg.status->text().contains(QStringLiteral("nowhere")));
}

TEST_F(VerifyDlgTest, EnterStartsAndEscapeCloses) {
    CVerifyDlg dlg(index, disc);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRunning() && !dlg.Items().empty(); }, 30000));
    EXPECT_EQ(dlg.Items().size(), 3u);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(AuditRules, RowFilterAndProgressText) {
    EXPECT_TRUE(VerifyRowShown(VerifyKind::Identical, -1, false));
    EXPECT_FALSE(VerifyRowShown(VerifyKind::Identical, -1, true));
    EXPECT_FALSE(VerifyRowShown(VerifyKind::New, static_cast<int>(VerifyKind::Missing), false));
    EXPECT_TRUE(VerifyRowShown(VerifyKind::New, static_cast<int>(VerifyKind::New), true));
    EXPECT_EQ(VerifyProgressText(1500000, 650000000, 65),
              QStringLiteral("1.5 MB / 650.0 MB，剩余约 1:05"));
    EXPECT_EQ(VerifyProgressText(0, 10, -1), QStringLiteral("0.0 MB / 0.0 MB，剩余时间未知"));
    EXPECT_EQ(MegabytesToBytes(0), 1u);
    EXPECT_EQ(MegabytesToBytes(3), 3000000u);
}

TEST(ExportFile, FormatByExtensionAndTheFileWrittenWhole) {
    test::EnsureApp();
    EXPECT_EQ(ExportFormatForPath("a.HTM", ExportFormat::Csv), ExportFormat::Html);
    EXPECT_EQ(ExportFormatForPath("a.json", ExportFormat::Csv), ExportFormat::Json);
    EXPECT_EQ(ExportFormatForPath("a.txt", ExportFormat::Html), ExportFormat::Html);
    TempDir tmp;
    const QString path = QString::fromStdString(tmp / "out.csv");
    ASSERT_TRUE(RunExportToFile(nullptr, path, [](std::ostream& out, const std::atomic<bool>&) {
        out << "a,b\r\n";
        return true;
    }));
    EXPECT_EQ(test::ReadFile(tmp / "out.csv"), "a,b\r\n");
    // Only the file itself is left in the folder.
    std::vector<std::string> names;
    ListDirectory(tmp.path(), [&](const DirEntry& e) {
        if (e.name != "." && e.name != "..") names.push_back(e.name);
        return true;
    });
    EXPECT_EQ(names, std::vector<std::string>{"out.csv"});
}

class DupesDlgTest : public ::testing::Test, private AppFirst {
protected:
    void SetUp() override {
        lib = tmp / "lib";
        test::MakeDir(lib);
        for (const char* d : {"one", "two", "three"}) {
            const std::string folder = tmp / d;
            test::MakeDir(folder);
            test::MakeDir(folder + "/docs");
            WriteFile(folder + "/docs/shared.bin", std::string(2000, 's'));
            WriteFile(folder + "/" + d + ".txt", d);
            ASSERT_TRUE(test::CatalogueFolder(folder, lib + "/" + d + ".orb", d));
        }
    }
    TempDir tmp;
    std::string lib;
};

TEST_F(DupesDlgTest, ScopeSearchAndOpeningACopy) {
    test::CFakeShell shell;
    CDupesDlg dlg(&shell, lib);
    EXPECT_EQ(dlg.ScopePaths().size(), 3u);  // nothing ticked: the whole library
    QTreeWidgetItem* one = dlg.scope->FindItemByPath(lib + "/one");
    QTreeWidgetItem* two = dlg.scope->FindItemByPath(lib + "/two");
    ASSERT_TRUE(one && two);
    dlg.scope->SetItemCheck(one, 3);
    dlg.scope->SetItemCheck(two, 3);
    ASSERT_EQ(dlg.ScopePaths().size(), 2u);
    dlg.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsRunning(); }, 30000));
    CDupesModel& m = *dlg.model;
    ASSERT_EQ(m.rowCount(), 1);
    const QModelIndex group = m.index(0, 0);
    EXPECT_EQ(group.data().toString(), QStringLiteral("shared.bin"));
    EXPECT_EQ(m.index(0, CDupesModel::kWasted).data().toString(), QStringLiteral("2000"));
    ASSERT_EQ(m.rowCount(group), 2);
    EXPECT_EQ(m.parent(m.index(1, 0, group)), group);
    const QModelIndex copy = m.index(0, 0, group).data().toString() == QStringLiteral("two")
                                 ? m.index(0, 0, group)
                                 : m.index(1, 0, group);
    // Enter on the copy opens it, and does not start the search over.
    dlg.results->setCurrentIndex(copy);
    QTest::keyClick(dlg.results, Qt::Key_Return);
    EXPECT_EQ(shell.opened, std::vector<std::string>{lib + "/two.orb"});
    EXPECT_FALSE(dlg.IsRunning());
    // A group row opens nothing.
    dlg.OpenCopy(group);
    EXPECT_EQ(shell.opened.size(), 1u);
}

TEST_F(DupesDlgTest, EnterFindsAndEscapeCloses) {
    test::CFakeShell shell;
    CDupesDlg dlg(&shell, lib);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !dlg.IsRunning() && dlg.model->rowCount() == 1; }, 30000));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

// Sorting reorders groups, keeps each group's copies under it, and keeps ties in
// the result's order (most wasted space first) both ways.
TEST(DupesModelTest, SortsGroupsByColumnBothWays) {
    DupeResult r;
    r.discs = {{"a.orb", "A"}, {"b.orb", "B"}};
    auto group = [](const char* name, uint64_t size, int copies) {
        DupeGroup g;
        g.size = size;
        for (int i = 0; i < copies; ++i) {
            DupeCopy c;
            c.disc = static_cast<uint32_t>(i % 2);
            c.name = HostToStored(name);
            c.dirPath = "X:\\";
            g.copies.push_back(c);
        }
        return g;
    };
    // Wasted: 300, 200, 200, 10.
    r.groups = {group("文件10", 100, 4), group("文件2", 200, 2), group("b", 100, 3),
                group("a", 10, 2)};
    CDupesModel m;
    m.SetResult(r);
    auto names = [&] {
        QStringList out;
        for (int i = 0; i < m.rowCount(); ++i) out << m.index(i, 0).data().toString();
        return out.join(' ');
    };
    EXPECT_EQ(names(), QStringLiteral("文件10 文件2 b a"));
    m.sort(CDupesModel::kName, Qt::AscendingOrder);
    EXPECT_EQ(names(), QStringLiteral("a b 文件2 文件10"));
    m.sort(CDupesModel::kSize, Qt::DescendingOrder);
    EXPECT_EQ(names(), QStringLiteral("文件2 文件10 b a"));
    m.sort(CDupesModel::kWasted, Qt::AscendingOrder);
    EXPECT_EQ(names(), QStringLiteral("a 文件2 b 文件10"));
    m.sort(CDupesModel::kCopies, Qt::DescendingOrder);
    EXPECT_EQ(names(), QStringLiteral("文件10 b 文件2 a"));
    // The copies follow their group, and each knows it.
    const QModelIndex top = m.index(1, 0);
    ASSERT_EQ(m.rowCount(top), 3);
    EXPECT_EQ(m.GroupOf(m.index(2, 0, top)), 2);
    EXPECT_EQ(m.CopyOf(m.index(2, 0, top)), 2);
    EXPECT_EQ(m.parent(m.index(2, 0, top)).row(), 1);
    EXPECT_EQ(m.index(0, 0, top).data().toString(), QStringLiteral("A"));
}

}  // namespace
}  // namespace orb
