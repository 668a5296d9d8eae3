// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane of the navigation bar: keyword, options and scope, the search
// run disc after disc over the checked discs on the pane's own index reader, and
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
#include "search/pane/search_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QToolButton;
class QTreeWidgetItem;

namespace orb {

class IOrbShell;
class CLibraryTree;
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
    QTableView* ResultList() const { return list_; }
    CSearchResultModel* Results() const { return model_; }
    // The pane's own reader and the collector its workers report to.
    const CIndexReader& Reader() const { return reader_; }
    CSearchHitCollector& Collector() { return collector_; }

    // The button's action: stop, narrow or start.
    void OnSearchButton();
    // Refills the scope tree from the library directory: discs keep their ticks by
    // path, discs not shown before are ticked.
    void RefreshScope();
    // Opens the hit of a row in the document and selects it in the views.
    void OpenHit(int row);
    // The export button by the count: the hits to a CSV, HTML or JSON file.
    void OnExport();
    QToolButton* ExportButton() const { return export_; }

    // True from the start of a search until its last disc is done.
    bool IsSearching() const { return searching_; }
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
    // Opens the next checked disc from `item` on and starts its worker; discs that
    // cannot be opened are skipped. False when no disc is left.
    bool StartDiscFrom(QTreeWidgetItem* item);
    void OnDiscFinished();
    void EndSearch();
    void ShowHits();
    void OnTick();
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
    QTableView* list_ = nullptr;
    CSearchResultModel* model_ = nullptr;

    // The search: the collector outlives the reader, whose worker may still be
    // inside a Send while the reader lets it go.
    CSearchHitCollector collector_;
    CIndexReader reader_;
    std::string keywordStored_;
    std::string typeFilter_;
    uint8_t searchFlags_ = 0;
    QTreeWidgetItem* disc_ = nullptr;       // the disc being searched
    QTreeWidgetItem* shownDisc_ = nullptr;  // the disc the scope tree shows selected
    bool searching_ = false;
    bool stopRequested_ = false;
    bool restartRequested_ = false;
    QTimer tick_;
    QElapsedTimer sinceShown_;
    QElapsedTimer sinceDiscStarted_;
    // Grows with the cost of showing a batch (it rises with the row count), so
    // the window keeps most of its time for the user.
    qint64 showInterval_ = kShowHitsMs;
    bool initialised_ = false;
};

}  // namespace orb
