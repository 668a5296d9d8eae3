// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane by behaviour: scope check boxes, which discs are searched and in
// what order, its messages, stopping, narrowing, opening a hit, type-ahead, the
// name index built in the background and the result list's merges.
#include "search/pane/search_pane.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "platform/text.h"
#include "search/index/name_index.h"
#include "search/pane/hit_list_view.h"
#include "search/pane/search_result_model.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "tests/app/app_test_util.h"
#include "tests/search/search_test_util.h"
#include "tests/support/fake_shell.h"
#include "tests/support/qt_wait.h"
#include "ui/page_tab_ctrl.h"
#include "views/dir_view.h"
#include "views/orb_view.h"

namespace orb {
namespace {

// The application object (and the private settings home) before any widget.
struct AppFirst {
    AppFirst() { test::EnsureApp(); }
};

// lib/a/x.orb, lib/a/y.orb, lib/b.orb, lib/c.orb (not an index).
class SearchPaneTest : public ::testing::Test, private AppFirst {
protected:
    void SetUp() override {
        lib = dir / "lib";
        ::mkdir(lib.c_str(), 0755);
        ::mkdir((lib + "/a").c_str(), 0755);
        test::BuildIndex(lib + "/a/x.orb", "X",
                         {"same.txt", "Setup.exe", "tools/", "tools/MySetup2.exe"});
        test::BuildIndex(lib + "/a/y.orb", "Y", {"same.txt", "other.txt"});
        test::BuildIndex(lib + "/b.orb", "B", {"same.txt", "setupB.txt"});
        test::WriteFile(lib + "/c.orb", "not an index");
        StoreLibraryDirectory(lib);
        pane = std::make_unique<CSearchPane>(shell);
        pane->messageHook = [this](const QString& text) { messages << text; };
        pane->resize(300, 600);
    }
    void TearDown() override { pane.reset(); }

    QTreeWidgetItem* Item(const std::string& path) { return pane->Scope()->FindItemByPath(path); }
    void Check(const std::string& path) { pane->Scope()->SetItemCheck(Item(path), kScopeChecked); }
    int State(const std::string& path) { return CSearchScopeTree::CheckState(Item(path)); }

    // Types the keyword, presses the button and waits for the end.
    void Search(const QString& keyword) {
        pane->KeywordEdit()->setText(keyword);
        QSignalSpy done(pane.get(), &CSearchPane::searchFinished);
        pane->OnSearchButton();
        if (pane->IsSearching()) {
            ASSERT_TRUE(done.wait(10000));
        }
    }
    // Name and disc label of every row, in row order.
    std::vector<std::string> Rows() {
        std::vector<std::string> out;
        for (size_t i = 0; i < pane->Results()->Count(); ++i) {
            const SearchHit* h = pane->Results()->Hit(static_cast<int>(i));
            out.push_back(std::string(h->name) + "@" +
                          h->parentPath->substr(0, h->parentPath->find(':')));
        }
        return out;
    }
    QString Count() { return pane->CountLabel()->text(); }

    test::TempDir dir;
    std::string lib;
    test::CFakeShell shell;
    std::unique_ptr<CSearchPane> pane;
    QStringList messages;
};

TEST_F(SearchPaneTest, CheckStatesFollowClicksUpAndDown) {
    CSearchScopeTree* tree = pane->Scope();
    EXPECT_EQ(State(lib + "/"), kScopeUnchecked);
    EXPECT_EQ(Count(), QStringLiteral("0个结果被找到"));
    EXPECT_FALSE(pane->ExportButton()->isEnabled());  // nothing to export yet

    // A click on a disc's box checks it without selecting it; its category and the
    // root become partly checked.
    tree->show();
    QTreeWidgetItem* x = Item(lib + "/a/x");
    tree->scrollToItem(x);
    const QRect cell = tree->visualItemRect(x);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(cell.left() + 4, cell.center().y()));
    EXPECT_EQ(State(lib + "/a/x"), kScopeChecked);
    EXPECT_NE(tree->currentItem(), x);
    EXPECT_EQ(State(lib + "/a/"), kScopePartial);
    EXPECT_EQ(State(lib + "/"), kScopePartial);

    // The category's second disc completes it; the space key toggles the current item.
    tree->setCurrentItem(Item(lib + "/a/y"));
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(State(lib + "/a/"), kScopeChecked);
    EXPECT_EQ(State(lib + "/"), kScopePartial);

    // Checking the root checks everything; a partly checked item becomes checked.
    tree->ToggleItem(Item(lib + "/a/x"));
    EXPECT_EQ(State(lib + "/a/"), kScopePartial);
    tree->ToggleItem(Item(lib + "/a/"));
    EXPECT_EQ(State(lib + "/a/x"), kScopeChecked);
    tree->ToggleItem(Item(lib + "/"));
    EXPECT_EQ(State(lib + "/b"), kScopeChecked);
    EXPECT_EQ(State(lib + "/"), kScopeChecked);
    // Unchecking the only checked disc of a category sets it back to unchecked.
    tree->ToggleItem(Item(lib + "/"));
    Check(lib + "/b");
    tree->ToggleItem(Item(lib + "/b"));
    EXPECT_EQ(State(lib + "/"), kScopeUnchecked);

    // Refresh keeps every mark by path; a disc added or moved since is ticked, and
    // a disc that went away takes its mark with it.
    Check(lib + "/a/");
    tree->expandItem(Item(lib + "/a/"));
    pane->RefreshScope();
    EXPECT_TRUE(Item(lib + "/a/")->isExpanded());  // an opened category stays open
    EXPECT_EQ(State(lib + "/a/x"), kScopeChecked);
    EXPECT_EQ(State(lib + "/b"), kScopeUnchecked);
    EXPECT_EQ(State(lib + "/"), kScopePartial);
    ASSERT_EQ(::rename((lib + "/a/y.orb").c_str(), (lib + "/y2.orb").c_str()), 0);
    ::mkdir((lib + "/empty").c_str(), 0755);
    pane->Scope()->SetItemCheck(Item(lib + "/a/x"), kScopeUnchecked);
    pane->RefreshScope();
    EXPECT_EQ(State(lib + "/a/x"), kScopeUnchecked);
    EXPECT_EQ(State(lib + "/a/"), kScopeUnchecked);
    EXPECT_EQ(State(lib + "/y2"), kScopeChecked);
    EXPECT_EQ(State(lib + "/empty/"), kScopeUnchecked);
    EXPECT_EQ(State(lib + "/"), kScopePartial);
    // Emptied on purpose, the scope stays empty.
    tree->ToggleItem(Item(lib + "/"));
    tree->ToggleItem(Item(lib + "/"));
    pane->RefreshScope();
    EXPECT_EQ(State(lib + "/"), kScopeUnchecked);
}

TEST_F(SearchPaneTest, ScreenReadersHearEachScopeBoxState) {
    CSearchScopeTree* tree = pane->Scope();
    tree->expandAll();
    tree->show();
    Check(lib + "/a/x");
    auto cell = [&](const QString& label) -> QAccessibleInterface* {
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(tree);
        for (int i = 0; view && i < view->childCount(); ++i) {
            QAccessibleInterface* c = view->child(i);
            if (c && c->role() != QAccessible::ColumnHeader && c->text(QAccessible::Name) == label)
                return c;
        }
        return nullptr;
    };
    for (const char* label : {"x", "y", "a"}) ASSERT_TRUE(cell(label)) << label;
    EXPECT_TRUE(cell("x")->state().checkable);
    EXPECT_TRUE(cell("x")->state().checked);
    EXPECT_TRUE(cell("y")->state().checkable);
    EXPECT_FALSE(cell("y")->state().checked);
    // A partly ticked category is not read out as ticked (Qt 6.4 has no mixed state
    // on view cells).
    EXPECT_EQ(State(lib + "/a/"), kScopePartial);
    EXPECT_FALSE(cell("a")->state().checked);
}

TEST_F(SearchPaneTest, OnlyCheckedDiscsInTreeOrderAndRowsSortedByName) {
    Check(lib + "/a/x");
    Check(lib + "/b");
    Search(QStringLiteral("s"));
    EXPECT_TRUE(messages.isEmpty());
    // Equal names keep the order of the discs searched: x before b; y is unchecked.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "same.txt@X", "same.txt@B",
                                                "Setup.exe@X", "setupB.txt@B", "tools@X"}));
    EXPECT_EQ(Count(), QStringLiteral("6个结果被找到"));
    EXPECT_TRUE(pane->ExportButton()->isEnabled());
    EXPECT_FALSE(pane->ProgressBar()->isVisible());
    EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("搜索"));
    EXPECT_EQ(pane->CurrentRun(), nullptr);

    // The options reach the engine: case and whole name, files only with a type.
    pane->OptionBox(SF_MATCHCASE)->setChecked(true);
    Search(QStringLiteral("Setup"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "Setup.exe@X"}));
    pane->OptionBox(SF_MATCHCASE)->setChecked(false);
    pane->OptionBox(SF_WHOLENAME)->setChecked(true);
    Search(QStringLiteral("setup"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Setup.exe@X"}));
    pane->OptionBox(SF_WHOLENAME)->setChecked(false);
    pane->TypeBox()->setEditText(QStringLiteral("txt"));
    Search(QStringLiteral("setup"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"setupB.txt@B"}));
}

// The threads that find and copy hits run below the window, whose thread keeps
// its own priority: with a few of them per core, the window would otherwise wait
// for a core behind them.
TEST_F(SearchPaneTest, SearchThreadsRunBelowTheWindow) {
    Check(lib + "/a/x");
    Check(lib + "/b");
    const int windowNice = ::getpriority(PRIO_PROCESS, 0);
    std::mutex mutex;
    std::vector<int> seen;  // the nice value of the thread of each hit
    pane->afterHit = [&] {
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(nice);
    };
    Search(QStringLiteral("s"));
    pane->afterHit = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(seen.size(), 6u);
    for (int nice : seen) EXPECT_GT(nice, windowNice);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), windowNice);
}

TEST_F(SearchPaneTest, PinyinOptionAndTheMatchedCharactersOfEachRow) {
    test::BuildIndex(lib + "/p.orb", "P", {HostToStored("工具箱.exe"), "readme.txt", "gj.txt"},
                     {{"readme.txt", "gj"}});
    pane->RefreshScope();
    Check(lib + "/p");
    ASSERT_NE(pane->OptionBox(SF_PINYIN), nullptr);
    EXPECT_TRUE(pane->OptionBox(SF_PINYIN)->isChecked());
    auto span = [&](int row) {
        return pane->Results()->data(pane->Results()->index(row, 0), kMatchSpanRole);
    };
    Search(QStringLiteral("jx"));
    ASSERT_EQ(Rows(), (std::vector<std::string>{HostToStored("工具箱.exe") + "@P"}));
    EXPECT_EQ(span(0), QVariant(QPoint(1, 2)));  // 具箱

    // Literal and pinyin rows alike; a hit found by its annotation has none.
    Search(QStringLiteral("GJ"));
    ASSERT_EQ(Rows(), (std::vector<std::string>{"gj.txt@P", "readme.txt@P",
                                                HostToStored("工具箱.exe") + "@P"}));
    EXPECT_EQ(span(0), QVariant(QPoint(0, 2)));
    EXPECT_FALSE(span(1).isValid());
    EXPECT_EQ(span(2), QVariant(QPoint(0, 2)));

    pane->OptionBox(SF_PINYIN)->setChecked(false);
    Search(QStringLiteral("jx"));
    EXPECT_TRUE(Rows().empty());
}

TEST_F(SearchPaneTest, MessagesForNoKeywordAndNoScope) {
    Search(QString());
    EXPECT_EQ(messages, QStringList{QStringLiteral("没有指定查找关键词")});
    Search(QStringLiteral("same"));
    EXPECT_EQ(messages.last(), QStringLiteral("没有指定查找范围"));
    EXPECT_FALSE(pane->IsSearching());
    EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("搜索"));
}

TEST_F(SearchPaneTest, UnreadableDiscsAreSkipped) {
    Check(lib + "/c");
    Search(QStringLiteral("same"));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(pane->Results()->Count(), 0u);
    EXPECT_EQ(Count(), QStringLiteral("0个结果被找到"));

    // Between readable discs the search goes on.
    Check(lib + "/a/x");
    test::WriteFile(lib + "/a/y.orb", "ORBF");  // too short for a header
    Search(QStringLiteral("same"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"same.txt@X"}));

    // A damaged disc (cut after its first record) ends its walk early; the next
    // disc is still searched.
    std::string x = test::ReadFile(lib + "/a/x.orb");
    test::WriteFile(lib + "/a/x.orb", x.substr(0, 140));
    Check(lib + "/b");
    Search(QStringLiteral("s"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"same.txt@X", "same.txt@B", "setupB.txt@B"}));
}

TEST_F(SearchPaneTest, NarrowingWithAndWithoutCase) {
    pane->Scope()->SetItemCheck(pane->Scope()->RootItem(), kScopeChecked);
    Search(QStringLiteral("e"));
    ASSERT_EQ(pane->Results()->Count(), 7u);
    pane->WithinResultsBox()->setChecked(true);
    Search(QStringLiteral("SETUP"));
    EXPECT_FALSE(pane->IsSearching());
    EXPECT_EQ(pane->CurrentRun(), nullptr);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "Setup.exe@X", "setupB.txt@B"}));
    EXPECT_EQ(Count(), QStringLiteral("3个结果被找到"));
    pane->OptionBox(SF_MATCHCASE)->setChecked(true);
    Search(QStringLiteral("Setup"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "Setup.exe@X"}));
    Search(QStringLiteral("nothing"));
    EXPECT_EQ(Count(), QStringLiteral("0个结果被找到"));
}

// Holds the worker inside its first hit until released.
struct HeldWorker {
    std::atomic<int> reached{0};
    std::atomic<bool> release{false};
    void Install(CSearchPane& pane) {
        pane.afterHit = [this] {
            if (reached.fetch_add(1) == 0)
                while (!release) std::this_thread::yield();
        };
    }
    bool WaitReached() {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!reached && std::chrono::steady_clock::now() < end) std::this_thread::yield();
        return reached != 0;
    }
};

TEST_F(SearchPaneTest, StopInsideADiscKeepsItsHitsAndSearchesNoFurther) {
    std::vector<std::string> many;
    for (int i = 0; i < 2000; ++i) many.push_back("hit" + std::to_string(i) + ".txt");
    test::BuildIndex(lib + "/a/x.orb", "X", many);
    Check(lib + "/a/x");
    Check(lib + "/b");
    HeldWorker held;
    held.Install(*pane);
    pane->KeywordEdit()->setText(QStringLiteral("hit"));
    QSignalSpy done(pane.get(), &CSearchPane::searchFinished);
    pane->OnSearchButton();
    EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("停止"));
    ASSERT_TRUE(held.WaitReached());
    pane->OnSearchButton();  // stop
    EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("搜索"));
    held.release = true;
    ASSERT_TRUE(done.wait(10000));
    const size_t kept = pane->Results()->Count();
    EXPECT_GE(kept, 1u);
    EXPECT_LT(kept, 2000u);
    for (const std::string& row : Rows()) EXPECT_EQ(row.substr(row.size() - 2), "@X");
    EXPECT_EQ(Count(), QString::fromUtf8(ResultCountText(kept)));
    EXPECT_FALSE(pane->IsSearching());
}

// The press that falls after the last disc, before the window handled the end,
// stops the search; a second press then starts a new one after it.
TEST_F(SearchPaneTest, PressBetweenTwoDiscsIsAStopAndNeverASecondSearch) {
    for (int restart = 0; restart < 2; ++restart) {
        Check(lib + "/a/x");
        Check(lib + "/b");
        pane->KeywordEdit()->setText(QStringLiteral("same"));
        QSignalSpy done(pane.get(), &CSearchPane::searchFinished);
        pane->OnSearchButton();
        // Without handling events, wait for every disc to end.
        CPaneSearchRun* run = pane->CurrentRun();
        ASSERT_NE(run, nullptr);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!run->Done() && std::chrono::steady_clock::now() < end) std::this_thread::yield();
        ASSERT_TRUE(run->Done());
        pane->OnSearchButton();
        EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("搜索"));
        EXPECT_EQ(pane->CurrentRun(), run);  // no second run
        if (restart) pane->OnSearchButton();
        ASSERT_TRUE(done.wait(10000));
        if (restart && pane->IsSearching()) {
            ASSERT_TRUE(done.wait(10000));
        }
        EXPECT_EQ(done.count(), restart ? 2 : 1);
        EXPECT_FALSE(pane->IsSearching());
        EXPECT_EQ(Rows(), (std::vector<std::string>{"same.txt@X", "same.txt@B"}));
    }
}

// Types text into the keyword box as the user does (each key an edit).
void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, text);
}

TEST_F(SearchPaneTest, TypeAheadFollowsTheKeywordAndLeavesTheFocusAlone) {
    pane->Scope()->SetItemCheck(pane->Scope()->RootItem(), kScopeChecked);
    pane->Tabs()->SetCurrentPage(1);  // the user is on the options page
    QSignalSpy done(pane.get(), &CSearchPane::searchFinished);
    Type(pane->KeywordEdit(), QStringLiteral("same"));
    // Nothing runs while the typing goes on.
    EXPECT_FALSE(pane->IsSearching());
    ASSERT_TRUE(test::WaitUntil([&] { return done.count() == 1; }));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"same.txt@X", "same.txt@Y", "same.txt@B"}));
    EXPECT_EQ(Count(), QStringLiteral("3个结果被找到"));
    EXPECT_EQ(pane->Tabs()->GetCurrentPage(), 1);
    EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("搜索"));
    EXPECT_TRUE(messages.isEmpty());

    // Typing on replaces the rows; the options apply as in a full search.
    pane->OptionBox(SF_MATCHCASE)->setChecked(true);
    Type(pane->KeywordEdit(), QStringLiteral("Setup"));
    ASSERT_TRUE(test::WaitUntil([&] { return done.count() == 2; }));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "Setup.exe@X"}));
    pane->OptionBox(SF_MATCHCASE)->setChecked(false);

    // Enter runs the full search of the same keyword, as the button does.
    QTest::keyClick(pane->KeywordEdit(), Qt::Key_Return);
    EXPECT_EQ(pane->SearchButton()->text(), QStringLiteral("停止"));
    ASSERT_TRUE(test::WaitUntil([&] { return done.count() == 3; }));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "Setup.exe@X", "setupB.txt@B"}));
    EXPECT_EQ(pane->Tabs()->GetCurrentPage(), 0);

    // With 在结果中查询 the typing neither searches nor narrows; Enter narrows.
    pane->WithinResultsBox()->setChecked(true);
    Type(pane->KeywordEdit(), QStringLiteral("exe"));
    EXPECT_TRUE(pane->IsTypeAheadPending());
    ASSERT_TRUE(test::WaitUntil([&] { return !pane->IsTypeAheadPending(); }));
    EXPECT_FALSE(pane->IsSearching());
    EXPECT_EQ(pane->Results()->Count(), 3u);
    QTest::keyClick(pane->KeywordEdit(), Qt::Key_Return);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"MySetup2.exe@X", "Setup.exe@X"}));
    pane->WithinResultsBox()->setChecked(false);

    // The box emptied: the list goes, without a message.
    Type(pane->KeywordEdit(), QString());
    ASSERT_TRUE(test::WaitUntil([&] { return pane->Results()->Count() == 0; }));
    EXPECT_EQ(Count(), QStringLiteral("0个结果被找到"));

    // No disc ticked: typing finds nothing and says nothing.
    pane->Scope()->SetItemCheck(pane->Scope()->RootItem(), kScopeUnchecked);
    Type(pane->KeywordEdit(), QStringLiteral("same"));
    const int before = done.count();
    ASSERT_TRUE(test::WaitUntil([&] { return !pane->IsTypeAheadPending(); }));
    EXPECT_FALSE(pane->IsSearching());
    EXPECT_EQ(done.count(), before);
    EXPECT_EQ(pane->Results()->Count(), 0u);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SearchPaneTest, TypeAheadCancelsTheQueryBeforeIt) {
    std::vector<std::string> many;
    for (int i = 0; i < 2000; ++i) many.push_back("hit" + std::to_string(i) + ".txt");
    test::BuildIndex(lib + "/a/x.orb", "X", many);
    Check(lib + "/a/x");
    HeldWorker held;
    held.Install(*pane);
    Type(pane->KeywordEdit(), QStringLiteral("hit"));
    ASSERT_TRUE(test::WaitUntil([&] { return pane->CurrentRun() != nullptr; }));
    CPaneSearchRun* first = pane->CurrentRun();
    ASSERT_TRUE(held.WaitReached());
    // The next keyword is typed while the first query is held inside a hit. The
    // spy is there first: the second query may end within the next wait.
    QSignalSpy done(pane.get(), &CSearchPane::searchFinished);
    Type(pane->KeywordEdit(), QStringLiteral("hit19"));
    ASSERT_TRUE(test::WaitUntil([&] { return pane->CurrentRun() != first; }));
    EXPECT_TRUE(first->Cancelled());
    held.release = true;
    ASSERT_TRUE(test::WaitUntil([&] { return done.count() == 1 && !pane->IsSearching(); }));
    // hit19, hit190-hit199, hit1900-hit1999; nothing of the first query.
    EXPECT_EQ(pane->Results()->Count(), 111u);
    for (const std::string& row : Rows()) EXPECT_EQ(row.substr(0, 5), "hit19") << row;
    EXPECT_EQ(Count(), QStringLiteral("111个结果被找到"));
    pane.reset();  // its runs end while the held worker they call still exists
}

// The index is built at start-up on a worker, refreshed when the library changes
// and after a search that found stale segments; until then those discs are walked
// with the same hits.
TEST_F(SearchPaneTest, NameIndexIsBuiltInTheBackgroundAndFollowsTheLibrary) {
    CNameIndexRefresher& refresher = pane->IndexRefresher();
    ASSERT_TRUE(test::WaitUntil([&] { return refresher.Completed() >= 1 && !refresher.Busy(); }));
    const std::string cache = NameIndexDirectory(lib);
    EXPECT_NE(CNameSegment::OpenFresh(cache, lib + "/a/x.orb"), nullptr);
    EXPECT_EQ(refresher.Last().built, 3u);

    pane->Scope()->SetItemCheck(pane->Scope()->RootItem(), kScopeChecked);
    Search(QStringLiteral("same"));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"same.txt@X", "same.txt@Y", "same.txt@B"}));
    EXPECT_EQ(pane->LastRunThroughIndex(), 3u);

    // A disc added: the window refreshes the scope, and the index follows.
    test::BuildIndex(lib + "/d.orb", "D", {"same.doc"});
    size_t completed = refresher.Completed();
    pane->RefreshScope();
    ASSERT_TRUE(
        test::WaitUntil([&] { return refresher.Completed() > completed && !refresher.Busy(); }));
    Search(QStringLiteral("same"));
    EXPECT_EQ(pane->LastRunThroughIndex(), 4u);
    EXPECT_EQ(Rows().size(), 4u);

    // A disc catalogued again in place: walked, with its new names, until the
    // refresh the search asked for has run.
    test::BuildIndex(lib + "/b.orb", "B", {"samebutnew.txt"});
    completed = refresher.Completed();
    Search(QStringLiteral("same"));
    EXPECT_EQ(pane->LastRunThroughIndex(), 3u);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"same.doc@D", "same.txt@X", "same.txt@Y",
                                                "samebutnew.txt@B"}));
    ASSERT_TRUE(
        test::WaitUntil([&] { return refresher.Completed() > completed && !refresher.Busy(); }));
    Search(QStringLiteral("same"));
    EXPECT_EQ(pane->LastRunThroughIndex(), 4u);
    EXPECT_EQ(Rows().size(), 4u);

    // A disc deleted: once the scope follows, no file of it stays open.
    ASSERT_EQ(::unlink((lib + "/d.orb").c_str()), 0);
    pane->RefreshScope();
    auto open = [](const std::string& ending) {
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
            if (target.size() >= ending.size() &&
                target.compare(target.size() - ending.size(), ending.size(), ending) == 0)
                return true;
        }
        return false;
    };
    EXPECT_FALSE(open("/d.orb (deleted)"));
    // The discs that stayed stay open for the next search.
    EXPECT_TRUE(open("/a/x.orb"));
}

// Large batches merge on a worker: the rows shown stay as they were until the
// merge lands, the selection follows its hit, and a Clear or a narrowing in
// between is honoured. Every change is one a view can follow (Qt's model
// tester aborts on a change announced wrongly).
TEST(SearchResultModelTest, LargeMergesLandWholeAndKeepTheSelection) {
    test::EnsureApp();
    CSearchResultModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto store = std::make_shared<CHitStore>();
    std::mt19937 rng(5);
    uint64_t seq = 0;
    auto batch = [&](size_t n) {
        std::vector<PaneHitBatch> out(1);
        out[0].store = store;
        for (size_t i = 0; i < n; ++i) {
            SearchHit* h = store->NewHit();
            h->name = store->CopyName((rng() % 2 ? "x" : "y") + std::to_string(rng() % 100000));
            h->seq = seq++;
            out[0].rows.push_back(MakeHitRow(h));
        }
        return out;
    };
    auto sorted = [&] {
        for (size_t i = 1; i < model.Count(); ++i)
            if (HitRowLess(MakeHitRow(model.Hit(static_cast<int>(i))),
                           MakeHitRow(model.Hit(static_cast<int>(i - 1)))))
                return false;
        return true;
    };
    auto first = batch(CSearchResultModel::kMergeHereRows / 2);
    model.AddHits(first);  // small: merged at once
    ASSERT_TRUE(model.IsSettled());
    ASSERT_EQ(model.Count(), CSearchResultModel::kMergeHereRows / 2);
    const QPersistentModelIndex selected = model.index(100, 0);
    const SearchHit* hit = model.Hit(100);

    auto second = batch(CSearchResultModel::kMergeHereRows * 2);
    model.AddHits(second);
    EXPECT_FALSE(model.IsSettled());
    EXPECT_EQ(model.Count(), CSearchResultModel::kMergeHereRows / 2);  // not landed yet
    ASSERT_TRUE(test::WaitUntil([&] { return model.IsSettled(); }));
    EXPECT_EQ(model.Count(), CSearchResultModel::kMergeHereRows * 5 / 2);
    EXPECT_TRUE(sorted());
    EXPECT_EQ(model.Hit(selected.row()), hit);

    // A narrowing while a merge runs applies to every row once it has landed.
    auto third = batch(CSearchResultModel::kMergeHereRows);
    model.AddHits(third);
    model.Narrow("X", false);
    ASSERT_TRUE(test::WaitUntil([&] { return model.IsSettled(); }));
    ASSERT_GT(model.Count(), 0u);
    for (size_t i = 0; i < model.Count(); ++i)
        ASSERT_EQ(model.Hit(static_cast<int>(i))->name[0], 'x');
    EXPECT_TRUE(sorted());

    // A Clear drops the merge that was running. Until the reset is done, a view
    // told of it may still read the rows it had.
    auto fourth = batch(CSearchResultModel::kMergeHereRows * 2);
    model.AddHits(fourth);
    const int before = model.rowCount();
    int readAtReset = -1;
    QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset, [&] {
        readAtReset = model.rowCount();
        if (readAtReset > 0) (void)model.data(model.index(readAtReset - 1, 0), Qt::DisplayRole);
    });
    model.Clear();
    EXPECT_EQ(readAtReset, before);
    ASSERT_TRUE(test::WaitUntil([&] { return model.IsSettled(); }));
    EXPECT_EQ(model.Count(), 0u);
}

TEST_F(SearchPaneTest, SelectingAHitShowsItsDiscAndDoubleClickOpensIt) {
    CCDDirView dirs(shell.doc, shell);
    COrbView files(shell.doc, shell);
    shell.dirView = &dirs;
    shell.fileView = &files;
    Check(lib + "/a/x");
    Check(lib + "/b");
    Search(QStringLiteral("mysetup2"));
    ASSERT_EQ(pane->Results()->Count(), 1u);
    pane->ResultList()->setCurrentIndex(pane->Results()->index(0, 0));
    EXPECT_EQ(pane->Scope()->currentItem(), Item(lib + "/a/x"));

    // A double click on the row lands on the file in its directory.
    CHitListView* list = pane->ResultList();
    pane->show();
    const QRect cell = list->visualRect(pane->Results()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(shell.opened, (std::vector<std::string>{lib + "/a/x.orb"}));
    EXPECT_EQ(shell.doc.Index().GetFilePath(), lib + "/a/x.orb");
    EXPECT_EQ(files.CurrentDirectoryStored(), "tools\\");
    IndexEntry entry;
    int32_t id = 0;
    ASSERT_TRUE(files.GetSelectedEntry(entry, id));
    EXPECT_EQ(std::string(entry.Name()), "MySetup2.exe");

    Search(QStringLiteral("setupb"));
    ASSERT_EQ(pane->Results()->Count(), 1u);
    shell.opened.clear();
    pane->OpenHit(0);
    ASSERT_EQ(shell.opened, (std::vector<std::string>{lib + "/b.orb"}));
    EXPECT_EQ(files.CurrentDirectoryStored(), "");

    // A hit whose index went away: the document reports it, the pane does nothing more.
    ::unlink((lib + "/b.orb").c_str());
    shell.doc.CloseIndex(1);
    QWidget* box = nullptr;
    QTimer::singleShot(0, [&] {
        box = QApplication::activeModalWidget();
        if (box) box->close();
    });
    pane->OpenHit(0);
    EXPECT_EQ(shell.opened.size(), 2u);
    EXPECT_FALSE(shell.doc.Index().IsOpen());
    shell.dirView = nullptr;
    shell.fileView = nullptr;
}

}  // namespace
}  // namespace orb
