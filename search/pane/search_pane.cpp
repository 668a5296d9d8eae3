// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane: controls, the disc-after-disc search on the pane's reader, and
// the result list.
#include "search/pane/search_pane.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QToolButton>

#include "audit/ui/export_file.h"
#include "platform/text.h"
#include "search/index/name_index.h"
#include "search/pane/hit_list_view.h"
#include "search/pane/search_result_model.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"
#include "ui/page_tab_ctrl.h"
#include "ui/pane_splitter.h"
#include "ui/teardown.h"
#include "ui/ui_font.h"
#include "views/dir_view.h"
#include "views/orb_view.h"

namespace orb {

namespace {

constexpr int kCmdRefresh = 32792;
constexpr int kTabTop = 52;  // below the progress bar and the count

// Type presets of the type box, in order.
const char* const kTypePresets[] = {
    "*",   "avi", "dll", "doc", "exe", "htm|html", "jpg|jpeg|gif|bmp",
    "mp3", "rar", "rm",  "txt", "zip"};

QRect ToQRect(const UiRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

QString HostText(const std::string& host) {
    return QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()));
}

}  // namespace

// ---------------------------------------------------------------------------------
// CSearchHitCollector

CSearchHitCollector::CSearchHitCollector(std::function<void()> finished)
    : finished_(std::move(finished)), store_(std::make_shared<CHitStore>()) {}

CSearchHitCollector::~CSearchHitCollector() {
    // A let-go worker checks its stop flag before every Send; one that had just
    // passed that check is waited for here, so it never touches a dead collector.
    while (inSend_.load() != 0) QThread::yieldCurrentThread();
}

LRESULT CSearchHitCollector::Send(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_SEARCH_EVENT) return 0;
    inSend_.fetch_add(1);
    if (wParam == SEARCH_FOUND) {
        const auto& r = *reinterpret_cast<const SearchResult*>(lParam);
        SearchHit* hit = CopySearchResult(*store_, r, lastIndexPath_, lastParentPath_);
        hit->seq = seq_++;
        HitRow row = MakeHitRow(hit);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_.push_back(row);
        }
        if (afterHit) afterHit();
    } else if (wParam == SEARCH_PROGRESS) {
        percent_.store(static_cast<int>(lParam), std::memory_order_relaxed);
    } else if (wParam == SEARCH_STARTED) {
        percent_.store(0, std::memory_order_relaxed);
    }
    inSend_.fetch_sub(1);
    return 0;
}

void CSearchHitCollector::Post(uint32_t msg, WPARAM wParam, LPARAM) {
    if (msg == WM_SEARCH_EVENT && wParam == SEARCH_FINISHED && finished_) finished_();
}

void CSearchHitCollector::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.clear();
    store_ = std::make_shared<CHitStore>();
    lastIndexPath_ = lastParentPath_ = nullptr;
}

void CSearchHitCollector::TakeHits(std::vector<HitRow>& out, std::shared_ptr<CHitStore>& store) {
    std::lock_guard<std::mutex> lock(mutex_);
    store = store_;
    if (out.empty())
        out.swap(pending_);
    else
        out.insert(out.end(), pending_.begin(), pending_.end());
    pending_.clear();
}

// ---------------------------------------------------------------------------------
// CSearchPane

CSearchPane::CSearchPane(IOrbShell& shell, QWidget* parent)
    : QWidget(parent), shell_(shell), refresher_(std::make_unique<CNameIndexRefresher>()) {
    setFont(SongtiFont(12));
    BuildControls();
    scope_->FillLibrary(GetLibraryDirectory());
    tick_.setInterval(kShowHitsMs);
    connect(&tick_, &QTimer::timeout, this, &CSearchPane::OnTick);
    typeAheadTimer_.setSingleShot(true);
    connect(&typeAheadTimer_, &QTimer::timeout, this, &CSearchPane::OnTypeAheadDue);
    connect(model_, &CSearchResultModel::settled, this, [this] {
        if (finishing_) {
            EndSearch();
        } else if (!searching_) {
            // A narrowing that waited for the last merges.
            count_->setText(HostText(ResultCountText(model_->Count())));
            export_->setEnabled(model_->Count() > 0);
        }
    });
    clock_.start();
    initialised_ = true;
    resize(260, 560);
    Layout();
    RefreshNameIndex();
}

CSearchPane::~CSearchPane() {
    DisconnectChildrenFrom(this);
    // Cancelled first, so every run stops at once; each then waits for its threads.
    if (run_) run_->Cancel();
    for (auto& r : retired_) r->Cancel();
    run_.reset();
    retired_.clear();
    refresher_.reset();
}

CLibraryTree* CSearchPane::ScopeTree() {
    return scope_;
}

void CSearchPane::BuildControls() {
    keywordLabel_ = new QLabel(QStringLiteral("关键词:"), this);
    keywordLabel_->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    keyword_ = new QLineEdit(this);
    keyword_->setObjectName(QStringLiteral("keyword"));
    keywordLabel_->setBuddy(keyword_);
    connect(keyword_, &QLineEdit::returnPressed, this, &CSearchPane::OnSearchButton);
    // Only the user's edits search as they type, not a text set by the program.
    connect(keyword_, &QLineEdit::textEdited, this, &CSearchPane::OnKeywordEdited);
    button_ = new QPushButton(QString::fromUtf8(kSearch), this);
    button_->setObjectName(QStringLiteral("searchButton"));
    connect(button_, &QPushButton::clicked, this, &CSearchPane::OnSearchButton);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->hide();
    count_ = new QLabel(HostText(ResultCountText(0)), this);
    count_->setObjectName(QStringLiteral("resultCount"));
    export_ = new QToolButton(this);
    export_->setObjectName(QStringLiteral("exportResults"));
    export_->setText(QStringLiteral("导出..."));
    export_->setEnabled(false);
    connect(export_, &QToolButton::clicked, this, &CSearchPane::OnExport);

    tabs_ = new CPageTabCtrl(this);
    scope_ = new CSearchScopeTree();
    scope_->setObjectName(QStringLiteral("scopeTree"));
    scope_->setAccessibleName(QStringLiteral("范围"));
    scope_->setAccessibleDescription(QStringLiteral("勾选要搜索的分类和光盘"));
    scope_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(scope_, &QWidget::customContextMenuRequested, this, &CSearchPane::ShowScopeMenu);
    connect(scope_->model(), &QAbstractItemModel::modelAboutToBeReset, this,
            &CSearchPane::OnScopeReset);

    options_ = new QWidget();
    auto* grid = new QGridLayout(options_);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setVerticalSpacing(6);
    auto box = [&](const char* text, bool checked) {
        auto* b = new QCheckBox(QString::fromUtf8(text), options_);
        b->setChecked(checked);
        return b;
    };
    files_ = box("文件", true);
    dirs_ = box("目录", true);
    notes_ = box("查找注释", true);
    matchCase_ = box("区分大小写", false);
    wholeName_ = box("全字匹配", false);
    within_ = box("在结果中查询", false);
    pinyin_ = box("拼音", true);
    typeLabel_ = new QLabel(QStringLiteral("类型:"), options_);
    types_ = new QComboBox(options_);
    types_->setEditable(true);
    types_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* preset : kTypePresets) types_->addItem(QString::fromUtf8(preset));
    types_->setCurrentIndex(0);
    // The editable box and its drop-down list are read out under the label's name.
    typeLabel_->setBuddy(types_);
    types_->setAccessibleName(QStringLiteral("类型"));
    types_->lineEdit()->setAccessibleName(QStringLiteral("类型"));
    types_->view()->setAccessibleName(QStringLiteral("类型列表"));
    grid->addWidget(files_, 0, 0);
    grid->addWidget(dirs_, 0, 1);
    grid->addWidget(notes_, 1, 0);
    grid->addWidget(matchCase_, 1, 1);
    grid->addWidget(wholeName_, 2, 0);
    grid->addWidget(within_, 2, 1);
    grid->addWidget(pinyin_, 3, 0);
    auto* typeRow = new QHBoxLayout();
    typeRow->addWidget(typeLabel_);
    typeRow->addWidget(types_, 1);
    grid->addLayout(typeRow, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);

    tabs_->AddPage(scope_, QStringLiteral("范围"), 0);
    tabs_->AddPage(options_, QStringLiteral("选项"), 1);
    tabs_->SetCurrentPage(0);

    model_ = new CSearchResultModel(this);
    // Keeps nothing per row: a table view's row header walks every row on each
    // batch added, and a tree view lays them all out again.
    list_ = new CHitListView(this);
    list_->setObjectName(QStringLiteral("resultList"));
    list_->setAccessibleName(QStringLiteral("搜索结果"));
    list_->setModel(model_);
    list_->setItemDelegateForColumn(0, new CMatchHighlightDelegate(list_));
    list_->SetRowHeight(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->horizontalHeader()->setSectionsClickable(false);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setColumnWidth(0, 120);
    list_->setColumnWidth(1, 80);
    list_->setColumnWidth(2, 200);
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { OnResultSelected(); });
    // A double click or Enter on a hit opens it, so the keyboard reaches it too.
    connect(list_, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { OpenHit(index.row()); });

    splitter_ = new CPaneSplitter(this, 1009);
    tabs_->setGeometry(0, kTabTop, 260, 240);
    splitter_->setGeometry(0, kTabTop + 240, 260, 8);
    list_->setGeometry(0, kTabTop + 248, 260, 240);
    splitter_->BindPanes(tabs_, list_, 100, 100, kSplitUpDown);
}

QCheckBox* CSearchPane::OptionBox(uint8_t flag) const {
    switch (flag) {
        case SF_FILES:
            return files_;
        case SF_DIRECTORIES:
            return dirs_;
        case SF_ANNOTATIONS:
            return notes_;
        case SF_MATCHCASE:
            return matchCase_;
        case SF_WHOLENAME:
            return wholeName_;
        case SF_PINYIN:
            return pinyin_;
        default:
            return nullptr;
    }
}

uint8_t CSearchPane::SearchOptions() const {
    uint8_t flags = 0;
    if (files_->isChecked()) flags |= SF_FILES;
    if (dirs_->isChecked()) flags |= SF_DIRECTORIES;
    if (matchCase_->isChecked()) flags |= SF_MATCHCASE;
    if (wholeName_->isChecked()) flags |= SF_WHOLENAME;
    if (notes_->isChecked()) flags |= SF_ANNOTATIONS;
    if (pinyin_->isChecked()) flags |= SF_PINYIN;
    return flags;
}

void CSearchPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void CSearchPane::Layout() {
    if (!initialised_) return;
    SearchPaneLayout l =
        ComputeSearchPaneLayout(width(), height(), tabs_->y(), tabs_->height(), list_->height());
    if (!l.apply) return;
    button_->setGeometry(ToQRect(l.button));
    keyword_->setGeometry(ToQRect(l.keyword));
    keywordLabel_->setGeometry(5, l.keyword.top, l.keyword.left - 5, l.keyword.Height());
    progress_->setGeometry(ToQRect(l.progress));
    // The count stands where the bar does, tall enough for its text.
    // The export button stands at the count's right end.
    constexpr int kExportWidth = 56;
    count_->setGeometry(l.progress.left, l.progress.top - 2, l.progress.Width() - kExportWidth,
                        kTabTop - l.progress.top);
    export_->setGeometry(l.progress.right - kExportWidth, l.progress.top - 2, kExportWidth,
                         kTabTop - l.progress.top);
    tabs_->setGeometry(ToQRect(l.tabs));
    splitter_->setGeometry(ToQRect(l.splitter));
    list_->setGeometry(ToQRect(l.list));
}

void CSearchPane::Message(const char* text) {
    if (messageHook) {
        messageHook(QString::fromUtf8(text));
        return;
    }
    QMessageBox::critical(this, QString::fromUtf8(kCaption), QString::fromUtf8(text));
}

void CSearchPane::OnSearchButton() {
    if (searching_ && !typeAheadRun_) {
        // Also after the last disc, before the window has handled the end: the
        // press stops the search. A press after the stop, before its end arrived,
        // starts the next search once that end is handled.
        if (stopRequested_) {
            restartRequested_ = true;
            return;
        }
        stopRequested_ = true;
        if (run_) run_->Cancel();
        button_->setText(QString::fromUtf8(kSearch));
        return;
    }
    // A search the typing started gives way to the full one.
    StartSearch();
}

std::vector<std::string> CSearchPane::CheckedDiscs(std::vector<QTreeWidgetItem*>& items) const {
    std::vector<std::string> paths;
    items.clear();
    QTreeWidgetItem* root = scope_->RootItem();
    if (!root) return paths;
    for (QTreeWidgetItem* item = scope_->NextCheckedDisc(root); item;
         item = scope_->NextCheckedDisc(item)) {
        items.push_back(item);
        paths.push_back(scope_->GetItemPath(item, true));
    }
    return paths;
}

void CSearchPane::StartSearch() {
    const std::string keyword = keyword_->text().toStdString();
    if (keyword.empty()) {
        Message(kNoKeyword);
        return;
    }
    const std::string stored = HostToStored(keyword);
    typeAhead_.Superseded(keyword);
    if (within_->isChecked()) {
        // A search the typing started ends here; the narrowing applies to the
        // rows it found.
        if (searching_) EndSearch();
        model_->Narrow(stored, matchCase_->isChecked());
        count_->setText(HostText(ResultCountText(model_->Count())));
        export_->setEnabled(model_->Count() > 0);
        return;
    }
    if (!scope_->RootItem()) return;
    std::vector<QTreeWidgetItem*> items;
    std::vector<std::string> paths = CheckedDiscs(items);
    if (paths.empty()) {
        Message(kNoScope);
        return;
    }
    button_->setText(QString::fromUtf8(kStop));
    tabs_->SetCurrentPage(0);
    scope_->setFocus();
    count_->hide();
    export_->hide();
    progress_->setValue(0);
    progress_->show();
    keywordStored_ = stored;
    runDiscs_ = std::move(items);
    StartRun(std::move(paths), false);
}

void CSearchPane::StartRun(std::vector<std::string> paths, bool typeAhead) {
    DropRun();
    model_->Clear();
    typeFilter_ = HostToStored(types_->currentText().toStdString());
    searchFlags_ = SearchOptions();
    model_->SetMatch(keywordStored_, searchFlags_);
    searching_ = true;
    typeAheadRun_ = typeAhead;
    finishing_ = false;
    stopRequested_ = false;
    restartRequested_ = false;
    sinceShown_.start();
    showInterval_ = kShowHitsMs;
    tick_.start();
    shownDisc_ = nullptr;
    disc_ = nullptr;

    CPaneSearchRun::Options options;
    options.indexPaths = std::move(paths);
    options.cacheDir = NameIndexDirectory(GetLibraryDirectory());
    // One held index per library: a run keeps its own reference, so a library
    // changed mid-search leaves the old one to the runs still using it.
    if (!nameIndex_ || nameIndex_->CacheDir() != options.cacheDir)
        nameIndex_ = std::make_shared<CNameIndex>(options.cacheDir);
    options.nameIndex = nameIndex_;
    options.search.keyword = keywordStored_;
    options.search.typeFilter = typeFilter_;
    options.search.flags = searchFlags_;
    run_ = std::make_unique<CPaneSearchRun>(std::move(options), [this] {
        // On a pool thread: handled on the window's thread, in turn with
        // everything else the window does. The run calls no more after Cancel,
        // which the pane calls before it goes.
        QMetaObject::invokeMethod(
            this, [this] { OnRunWake(); }, Qt::QueuedConnection);
    });
    run_->afterHit = afterHit;
    run_->Start();
    if (!typeAhead) {
        disc_ = runDiscs_.empty() ? nullptr : runDiscs_.front();
        ShowSearchedDisc();
    }
}

void CSearchPane::DropRun() {
    ReapRuns();
    if (!run_) return;
    run_->Cancel();
    retired_.push_back(std::move(run_));
}

void CSearchPane::ReapRuns() {
    // Destroying a run joins its threads: only runs whose threads have returned.
    retired_.erase(
        std::remove_if(retired_.begin(), retired_.end(),
                       [](const std::unique_ptr<CPaneSearchRun>& r) { return r->Exited(); }),
        retired_.end());
}

void CSearchPane::OnRunWake() {
    if (!run_ || finishing_) return;
    // The first rows show at once; later ones at the pace the window affords.
    if (model_->Count() == 0 || sinceShown_.elapsed() >= showInterval_) ShowHits();
    // The end waits for the last hits to be taken.
    if (run_->Done() && ShowHits()) FinishRun();
}

void CSearchPane::OnTick() {
    ReapRuns();
    if (!run_ || finishing_) {
        if (retired_.empty() && !finishing_) tick_.stop();
        return;
    }
    const size_t discs = run_->DiscCount();
    if (!typeAheadRun_) {
        const size_t first = run_->FirstUnfinishedDisc();
        if (first < runDiscs_.size()) disc_ = runDiscs_[first];
        ShowSearchedDisc();
        progress_->setValue(discs ? static_cast<int>(run_->DiscsDone() * 100 / discs) : 100);
    }
    if (sinceShown_.elapsed() >= showInterval_) ShowHits();
    // A stopped run no longer wakes the window: its end is seen here.
    if (run_->Done() && ShowHits()) FinishRun();
}

void CSearchPane::FinishRun() {
    lastThroughIndex_ = run_->ThroughIndex();
    if (!run_->Cancelled() && run_->ThroughIndex() > 0 && run_->Walked() > 0) {
        // The index could narrow the keyword, yet some discs were walked: their
        // segments are missing or stale (a disc catalogued again, say). The next
        // search finds them ready.
        RefreshNameIndex();
    }
    // Its threads are returning; they are joined once they have.
    retired_.push_back(std::move(run_));
    finishing_ = true;
    progress_->setValue(100);
    if (model_->IsSettled()) EndSearch();
}

void CSearchPane::EndSearch() {
    if (!searching_) return;
    const bool typeAhead = typeAheadRun_;
    if (!typeAhead) ShowSearchedDisc();  // the last disc searched stays selected
    searching_ = false;
    finishing_ = false;
    typeAheadRun_ = false;
    DropRun();
    if (retired_.empty()) tick_.stop();
    disc_ = nullptr;
    button_->setText(QString::fromUtf8(kSearch));
    progress_->hide();
    count_->setText(HostText(ResultCountText(model_->Count())));
    count_->show();
    export_->setEnabled(model_->Count() > 0);
    export_->show();
    const bool restart = restartRequested_;
    restartRequested_ = false;
    stopRequested_ = false;
    emit searchFinished();
    if (restart) StartSearch();
}

bool CSearchPane::ShowHits() {
    if (!run_) return false;
    std::vector<PaneHitBatch> batches;
    // A busy lock leaves the hits to the next tick: the window never waits for a
    // pool thread, which runs below its priority.
    if (!run_->TryTake(batches)) return false;
    QElapsedTimer cost;
    cost.start();
    model_->AddHits(batches);
    // The count runs along while the typing's search goes on; the full search
    // shows its progress bar there instead.
    if (typeAheadRun_) count_->setText(HostText(ResultCountText(model_->Count())));
    // The view's own work for a batch comes later and costs about as much again.
    showInterval_ = std::max<qint64>(kShowHitsMs, 8 * cost.elapsed());
    sinceShown_.restart();
    return true;
}

void CSearchPane::ShowSearchedDisc() {
    if (!disc_ || disc_ == shownDisc_) return;
    shownDisc_ = disc_;
    scope_->scrollToItem(disc_);
    scope_->setCurrentItem(disc_);
}

void CSearchPane::OnKeywordEdited(const QString& text) {
    typeAhead_.Edited(text.toStdString(), clock_.elapsed());
    typeAheadTimer_.start(
        static_cast<int>(std::max<int64_t>(0, typeAhead_.DueAt() - clock_.elapsed())));
}

void CSearchPane::OnTypeAheadDue() {
    std::string keyword;
    if (!typeAhead_.TakeDue(clock_.elapsed(), keyword)) {
        if (typeAhead_.DueAt() >= 0)
            typeAheadTimer_.start(
                static_cast<int>(std::max<int64_t>(0, typeAhead_.DueAt() - clock_.elapsed())));
        return;
    }
    // Narrowing changes the rows for good: only 搜索 and Enter narrow.
    if (within_->isChecked()) return;
    if (keyword.empty()) {
        // The box was emptied: nothing is searched, and nothing shown.
        if (searching_) EndSearch();
        model_->Clear();
        count_->setText(HostText(ResultCountText(0)));
        export_->setEnabled(false);
        return;
    }
    std::vector<QTreeWidgetItem*> items;
    std::vector<std::string> paths = CheckedDiscs(items);
    // Typing shows no messages: an empty scope simply finds nothing.
    if (paths.empty()) return;
    button_->setText(QString::fromUtf8(kSearch));
    progress_->hide();
    count_->show();
    export_->show();
    export_->setEnabled(false);
    keywordStored_ = HostToStored(keyword);
    runDiscs_ = std::move(items);
    StartRun(std::move(paths), true);
}

void CSearchPane::OnResultSelected() {
    const SearchHit* hit = model_->Hit(list_->currentIndex().row());
    if (!hit || !hit->indexPath) return;
    const std::string& path = *hit->indexPath;
    if (path.size() < 4) return;
    const bool listHadFocus = list_->hasFocus();
    scope_->SelectItemByPath(path.substr(0, path.size() - 4));
    // The tree takes the focus when it selects; keep it in the list the user is
    // moving through.
    if (listHadFocus) list_->setFocus();
}

void CSearchPane::OpenHit(int row) {
    const SearchHit* hit = model_->Hit(row);
    if (!hit || !hit->indexPath) return;
    // Copies: opening the document may run a nested event loop (its message box).
    const std::string indexPath = *hit->indexPath;
    const std::string parentPath = hit->parentPath ? *hit->parentPath : std::string();
    const std::string name(hit->name);
    if (!shell_.OpenDocumentFile(indexPath)) return;
    if (CCDDirView* dirs = shell_.DirView()) dirs->SelectDirectoryByPath(parentPath);
    if (COrbView* files = shell_.FileView()) files->SelectItemByName(name);
}

void CSearchPane::OnExport() {
    ExportFormat format = ExportFormat::Csv;
    const QString path =
        ChooseExportFile(this, QStringLiteral("导出搜索结果"), QStringLiteral("搜索结果"), format);
    if (path.isEmpty()) return;
    // Owned copies in list order: the worker must not read the store the next
    // search refills.
    struct Row {
        std::string name, parent, annotation, index;
        uint64_t size;
        FILETIME time;
        bool dir;
    };
    auto rows = std::make_shared<std::vector<Row>>();
    rows->reserve(static_cast<size_t>(model_->Count()));
    for (size_t i = 0; i < model_->Count(); ++i) {
        const SearchHit* h = model_->Hit(static_cast<int>(i));
        if (!h) continue;
        rows->push_back({std::string(h->name), h->parentPath ? *h->parentPath : std::string(),
                         std::string(h->Annotation()), h->indexPath ? *h->indexPath : std::string(),
                         (static_cast<uint64_t>(h->sizeHigh) << 32) | h->sizeLow, h->writeTime,
                         h->IsDirectory()});
    }
    RunExportToFile(this, path, [rows, format](std::ostream& out, const std::atomic<bool>&) {
        ExportSearchHits(out, format, rows->size(), [&](size_t i) {
            const Row& r = (*rows)[i];
            ExportHit h;
            h.name = r.name;
            h.parentPath = r.parent;
            h.annotation = r.annotation;
            h.indexPath = r.index;
            h.size = r.size;
            h.writeTime = r.time;
            h.isDirectory = r.dir;
            return h;
        });
        return true;
    });
}

void CSearchPane::RefreshScope() {
    scope_->RefillKeepingChecks(GetLibraryDirectory());
    // Discs that left the library are let go, or their files would stay open and
    // a deleted disc's space never be freed; the rest stay open for the next
    // search (a running one keeps what it holds).
    if (nameIndex_) {
        std::vector<std::string> discs;
        for (auto& [path, check] : scope_->DiscChecks()) discs.push_back(std::move(path));
        nameIndex_->KeepOnly(discs);
    }
    RefreshNameIndex();
}

void CSearchPane::OnScopeRefresh() {
    if (refreshAll)
        refreshAll();
    else
        RefreshScope();
}

void CSearchPane::RefreshNameIndex() {
    // Another library: nothing of the old one's stays open.
    if (nameIndex_ && nameIndex_->CacheDir() != NameIndexDirectory(GetLibraryDirectory()))
        nameIndex_.reset();
    refresher_->Request(GetLibraryDirectory());
}

void CSearchPane::OnScopeReset() {
    // The items go away: the search cannot name its discs any more.
    disc_ = shownDisc_ = nullptr;
    runDiscs_.clear();
    if (!searching_ || finishing_) return;
    stopRequested_ = true;
    if (run_) run_->Cancel();
    if (!typeAheadRun_) button_->setText(QString::fromUtf8(kSearch));
}

void CSearchPane::ShowScopeMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("findrangepopup"));
    QAction* refresh = menu.addAction(QStringLiteral("刷新"));
    refresh->setData(kCmdRefresh);
    if (menu.exec(scope_->viewport()->mapToGlobal(pos)) == refresh) OnScopeRefresh();
}

}  // namespace orb
