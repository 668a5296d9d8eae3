// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane of the navigation bar: keyword, options and scope, the search
// run over the checked discs on a pool of readers of its own (through the name
// index where it is fresh), results that follow the keyword as it is typed, and
// the hits in a list sorted by name that opens a hit in the document.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "search/pane/name_index_refresher.h"
#include "search/pane/pane_search_run.h"
#include "search/pane/search_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeWidgetItem;

namespace orb {

class IOrbShell;
class CLibraryTree;
class CHitListView;
class CPageTabCtrl;
class CPaneSplitter;
class CSearchResultModel;
class CSearchScopeTree;

// Takes the engine's notifications on the worker's thread without a round trip
// through the window: a hit is copied during its SEARCH_FOUND call into a batch
// the window collects, the percentage is kept for the window to show, and
// SEARCH_FINISHED is queued to the window.
class CSearchHitCollector : public IMessageTarget {
public:
    explicit CSearchHitCollector(std::function<void()> finished);
    ~CSearchHitCollector() override;

    LRESULT Send(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
    void Post(uint32_t msg, WPARAM wParam, LPARAM lParam) override;

    // Starts a new store for the hits of the next search (no worker may run).
    void Reset();
    // The hits copied since the last call, in the order they were found, and the
    // store that holds them.
    void TakeHits(std::vector<HitRow>& out, std::shared_ptr<CHitStore>& store);
    // The latest percentage the engine sent (0 after SEARCH_STARTED).
    int Percent() const { return percent_.load(std::memory_order_relaxed); }
    // Runs on the worker after each hit was copied (tests hold a worker there).
    std::function<void()> afterHit;

private:
    std::function<void()> finished_;
    std::mutex mutex_;
    std::vector<HitRow> pending_;
    std::atomic<int> percent_{0};
    std::atomic<int> inSend_{0};
    // Worker side only: the paths of the previous hit, shared with the next hits of
    // the same disc and directory.
    std::shared_ptr<CHitStore> store_;  // swapped by Reset only
    const std::string* lastIndexPath_ = nullptr;
    const std::string* lastParentPath_ = nullptr;
    uint64_t seq_ = 0;
};

class CSearchPane : public QWidget {
    Q_OBJECT
public:
    CPaneSplitter* Splitter() const { return splitter_; }
    // Texts of the pane.
    static constexpr const char* kNoKeyword = "没有指定查找关键词";
    static constexpr const char* kNoScope = "没有指定查找范围";
    static constexpr const char* kCaption = "提示";
    static constexpr const char* kSearch = "搜索";
    static constexpr const char* kStop = "停止";
    // Shortest wait between two showings of new hits.
    static constexpr int kShowHitsMs = 50;

    explicit CSearchPane(IOrbShell& shell, QWidget* parent = nullptr);
    ~CSearchPane() override;

    // The scope tree (refilled by the settings dialog when the library changes).
    CLibraryTree* ScopeTree();
    CSearchScopeTree* Scope() { return scope_; }

    // The controls, for the main window's keyboard handling and for tests.
    QLineEdit* KeywordEdit() const { return keyword_; }
    QPushButton* SearchButton() const { return button_; }
    QProgressBar* ProgressBar() const { return progress_; }
    QLabel* CountLabel() const { return count_; }
    QComboBox* TypeBox() const { return types_; }
    QCheckBox* OptionBox(uint8_t flag) const;
    QCheckBox* WithinResultsBox() const { return within_; }
    CPageTabCtrl* Tabs() const { return tabs_; }
    CHitListView* ResultList() const { return list_; }
    CSearchResultModel* Results() const { return model_; }
    // The search running now (null when none).
    CPaneSearchRun* CurrentRun() const { return run_.get(); }
    // Discs the last finished search answered through the name index.
    size_t LastRunThroughIndex() const { return lastThroughIndex_; }
    // The background refresh of the library's name index.
    CNameIndexRefresher& IndexRefresher() { return *refresher_; }
    // Tests: installed as the afterHit of each search run.
    std::function<void()> afterHit;

    // The button's action: stop, narrow or start.
    void OnSearchButton();
    // Refills the scope tree from the library directory: discs keep their ticks by
    // path, discs not shown before are ticked. The name index follows.
    void RefreshScope();
    // The scope menu's 刷新: through refreshAll when the window set it (it walks
    // the library off the window's thread and refills every tree), else here.
    void OnScopeRefresh();
    std::function<void()> refreshAll;
    // Brings the library's name index up to date in the background (at start-up,
    // after the library changed); a disc is walked until its segment is ready.
    void RefreshNameIndex();
    // Opens the hit of a row in the document and selects it in the views.
    void OpenHit(int row);
    // The export button by the count: the hits to a CSV, HTML or JSON file.
    void OnExport();
    QToolButton* ExportButton() const { return export_; }

    // True from the start of a search (typed ahead or full) until its last disc is
    // done and its count shown.
    bool IsSearching() const { return searching_; }
    // True while an edited keyword waits for the typing to pause.
    bool IsTypeAheadPending() const { return typeAheadTimer_.isActive(); }
    // True while the running search is one the typing started.
    bool IsTypingAhead() const { return searching_ && typeAheadRun_; }
    // The options the check boxes give.
    uint8_t SearchOptions() const;

    // Replaces the message box (tests): gets the text; the caption is "提示".
    std::function<void(const QString& text)> messageHook;

signals:
    // A search ended (after its last disc, a stop or a failure to start).
    void searchFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void Layout();
    void Message(const char* text);
    void StartSearch();
    // The checked discs in scope order, with their items.
    std::vector<std::string> CheckedDiscs(std::vector<QTreeWidgetItem*>& items) const;
    void StartRun(std::vector<std::string> paths, bool typeAhead);
    // Cancels the running search and lets its threads end on their own.
    void DropRun();
    void ReapRuns();
    void OnRunWake();
    void FinishRun();
    void EndSearch();
    // Takes the hits handed over and gives them to the list; false when they
    // could not be taken now.
    bool ShowHits();
    void OnTick();
    void OnKeywordEdited(const QString& text);
    void OnTypeAheadDue();
    // Selects the disc being searched in the scope tree (at the pace of the tick:
    // discs can follow each other faster than the tree is worth repainting).
    void ShowSearchedDisc();
    void OnResultSelected();
    void OnScopeReset();
    void ShowScopeMenu(const QPoint& pos);

    IOrbShell& shell_;
    QLabel* keywordLabel_ = nullptr;
    QLineEdit* keyword_ = nullptr;
    QPushButton* button_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* count_ = nullptr;
    QToolButton* export_ = nullptr;  // saves the hits as CSV, HTML or JSON
    CPageTabCtrl* tabs_ = nullptr;
    CSearchScopeTree* scope_ = nullptr;
    QWidget* options_ = nullptr;
    QCheckBox* files_ = nullptr;
    QCheckBox* dirs_ = nullptr;
    QCheckBox* notes_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QCheckBox* wholeName_ = nullptr;
    QCheckBox* within_ = nullptr;
    QCheckBox* pinyin_ = nullptr;
    QLabel* typeLabel_ = nullptr;
    QComboBox* types_ = nullptr;
    CPaneSplitter* splitter_ = nullptr;
    CHitListView* list_ = nullptr;
    CSearchResultModel* model_ = nullptr;

    // The search: the running one, and cancelled ones whose threads are still
    // ending (joined once they are done, never waited for by the window).
    std::unique_ptr<CPaneSearchRun> run_;
    std::vector<std::unique_ptr<CPaneSearchRun>> retired_;
    std::vector<QTreeWidgetItem*> runDiscs_;  // the run's discs, in scope order
    std::string keywordStored_;
    std::string typeFilter_;
    uint8_t searchFlags_ = 0;
    QTreeWidgetItem* disc_ = nullptr;       // the disc being searched
    QTreeWidgetItem* shownDisc_ = nullptr;  // the disc the scope tree shows selected
    bool searching_ = false;
    bool typeAheadRun_ = false;
    bool finishing_ = false;  // the run is done; the rows are still being merged
    bool stopRequested_ = false;
    bool restartRequested_ = false;
    CTypeAhead typeAhead_;
    QTimer typeAheadTimer_;
    QElapsedTimer clock_;
    std::unique_ptr<CNameIndexRefresher> refresher_;
    std::shared_ptr<CNameIndex> nameIndex_;
    size_t lastThroughIndex_ = 0;
    QTimer tick_;
    QElapsedTimer sinceShown_;
    // Grows with the cost of showing a batch (it rises with the row count), so
    // the window keeps most of its time for the user.
    qint64 showInterval_ = kShowHitsMs;
    bool initialised_ = false;
};

}  // namespace orb
