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
#include <QTableView>
#include <QThread>
#include <QToolButton>

#include "audit/ui/export_file.h"
#include "platform/text.h"
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
        CHitStore& store = *store_;
        SearchHit* hit = store.NewHit();
        hit->name = store.CopyName(r.entry.Name());
        if (!lastIndexPath_ || *lastIndexPath_ != r.fullIndexPath)
            lastIndexPath_ = store.AddText(r.fullIndexPath);
        if (!lastParentPath_ || *lastParentPath_ != r.fullParentPath)
            lastParentPath_ = store.AddText(r.fullParentPath);
        hit->indexPath = lastIndexPath_;
        hit->parentPath = lastParentPath_;
        hit->firstChild = r.entry.firstChild;
        hit->nextSibling = r.entry.nextSibling;
        hit->recordOffset = r.entry.recordOffset;
        hit->flags = r.entry.flags;
        hit->sizeHigh = r.entry.sizeHigh;
        hit->sizeLow = r.entry.sizeLow;
        hit->writeTime = r.entry.writeTime;
        hit->seq = seq_++;
        if (!r.annotation.empty()) hit->annotation = store.AddText(r.annotation);
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
    : QWidget(parent), shell_(shell), collector_([this] {
          // Posted by the worker: handled on the window's thread, in turn with
          // everything else the window does.
          QMetaObject::invokeMethod(
              this, [this] { OnDiscFinished(); }, Qt::QueuedConnection);
      }) {
    setFont(SongtiFont(12));
    BuildControls();
    scope_->FillLibrary(GetLibraryDirectory());
    tick_.setInterval(kShowHitsMs);
    connect(&tick_, &QTimer::timeout, this, &CSearchPane::OnTick);
    initialised_ = true;
    resize(260, 560);
    Layout();
}

CSearchPane::~CSearchPane() {
    DisconnectChildrenFrom(this);
    // The reader lets a running worker go (it sends nothing more); the collector,
    // declared before it, is destroyed after it.
    reader_.StopSearch();
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
    // A table rather than a tree view: a tree view lays out every row again on each
    // change, which a million rows arriving in batches cannot afford.
    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("resultList"));
    list_->setAccessibleName(QStringLiteral("搜索结果"));
    list_->setModel(model_);
    list_->setItemDelegateForColumn(0, new CMatchHighlightDelegate(list_));
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSortingEnabled(false);
    list_->horizontalHeader()->setSectionsClickable(false);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setColumnWidth(0, 120);
    list_->setColumnWidth(1, 80);
    list_->setColumnWidth(2, 200);
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { OnResultSelected(); });
    // A double click or Enter on a hit opens it, so the keyboard reaches it too.
    connect(list_, &QTableView::activated, this,
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
    if (searching_) {
        // Also between two discs (the worker has ended, its end not yet handled):
        // the press stops the search. A press after the stop, before its end
        // arrived, starts the next search once the reader is free.
        if (stopRequested_) {
            restartRequested_ = true;
            return;
        }
        stopRequested_ = true;
        reader_.StopSearch();
        button_->setText(QString::fromUtf8(kSearch));
        return;
    }
    StartSearch();
}

void CSearchPane::StartSearch() {
    const std::string keyword = keyword_->text().toStdString();
    if (keyword.empty()) {
        Message(kNoKeyword);
        return;
    }
    const std::string stored = HostToStored(keyword);
    if (within_->isChecked()) {
        model_->Narrow(stored, matchCase_->isChecked());
        count_->setText(HostText(ResultCountText(model_->Count())));
        export_->setEnabled(model_->Count() > 0);
        return;
    }
    QTreeWidgetItem* root = scope_->RootItem();
    if (!root) return;
    QTreeWidgetItem* first = scope_->NextCheckedDisc(root);
    if (!first) {
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
    model_->Clear();
    collector_.Reset();

    keywordStored_ = stored;
    typeFilter_ = HostToStored(types_->currentText().toStdString());
    searchFlags_ = SearchOptions();
    model_->SetMatch(keywordStored_, searchFlags_);
    searching_ = true;
    stopRequested_ = false;
    restartRequested_ = false;
    reader_.ClearSearchAbort();
    sinceShown_.start();
    showInterval_ = kShowHitsMs;
    tick_.start();
    shownDisc_ = nullptr;
    if (StartDiscFrom(first))
        ShowSearchedDisc();
    else
        EndSearch();
}

bool CSearchPane::StartDiscFrom(QTreeWidgetItem* item) {
    // A disc whose index does not open is skipped at once, in a loop rather than by
    // a message per disc.
    for (; item; item = scope_->NextCheckedDisc(item)) {
        disc_ = item;
        if (!reader_.Open(scope_->GetItemPath(item, true), OpenMode::ReadShareAll)) continue;
        reader_.SetSearchOptions(&collector_, typeFilter_, searchFlags_);
        // A start that fails after the open posts SEARCH_FINISHED itself.
        reader_.BeginSearch(keywordStored_);
        sinceDiscStarted_.start();
        return true;
    }
    return false;
}

void CSearchPane::OnDiscFinished() {
    if (!searching_) return;
    QTreeWidgetItem* next = disc_ ? scope_->NextCheckedDisc(disc_) : nullptr;
    if (stopRequested_ || !next || !StartDiscFrom(next)) {
        EndSearch();
        return;
    }
    // The next disc's worker is already running: the window shows the hits
    // meanwhile instead of keeping the worker waiting for its start.
    if (sinceShown_.elapsed() >= showInterval_) ShowHits();
}

void CSearchPane::EndSearch() {
    ShowHits();
    ShowSearchedDisc();  // the last disc searched stays selected
    progress_->setValue(100);
    searching_ = false;
    tick_.stop();
    disc_ = nullptr;
    reader_.Close();
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

void CSearchPane::ShowHits() {
    std::vector<HitRow> batch;
    std::shared_ptr<CHitStore> store;
    collector_.TakeHits(batch, store);
    QElapsedTimer cost;
    cost.start();
    model_->AddHits(batch, store);
    // The view's own work for a batch comes later and costs about as much again.
    showInterval_ = std::max<qint64>(kShowHitsMs, 8 * cost.elapsed());
    sinceShown_.restart();
}

void CSearchPane::ShowSearchedDisc() {
    if (!disc_ || disc_ == shownDisc_) return;
    shownDisc_ = disc_;
    scope_->scrollToItem(disc_);
    scope_->setCurrentItem(disc_);
}

void CSearchPane::OnTick() {
    ShowSearchedDisc();
    progress_->setValue(collector_.Percent());
    // While discs end often, their ends show the hits; the tick shows those of a
    // disc that takes long.
    if (sinceShown_.elapsed() >= showInterval_ && sinceDiscStarted_.elapsed() >= kShowHitsMs)
        ShowHits();
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
}

void CSearchPane::OnScopeReset() {
    // The items go away: the search cannot go on to a next disc.
    if (!searching_) return;
    stopRequested_ = true;
    reader_.StopSearch();
    disc_ = shownDisc_ = nullptr;
    button_->setText(QString::fromUtf8(kSearch));
}

void CSearchPane::ShowScopeMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("findrangepopup"));
    QAction* refresh = menu.addAction(QStringLiteral("刷新"));
    refresh->setData(kCmdRefresh);
    if (menu.exec(scope_->viewport()->mapToGlobal(pos)) == refresh) RefreshScope();
}

}  // namespace orb
