// SPDX-License-Identifier: GPL-3.0-or-later
// The file list's model, its sortable header and the two views that show it.
#include "views/file_list_ctrl.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <algorithm>
#include <functional>
#include <numeric>

#include "index/index_reader.h"
#include "platform/text.h"
#include "shell/app_settings.h"
#include "views/view_rules.h"

namespace orb {

// ---------------------------------------------------------------- model

CFileListModel::CFileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CFileListModel::Append(int32_t id, const IndexEntry& entry) {
    const std::string_view name = entry.Name();
    FileListItem item;
    item.id = id;
    item.isDirectory = entry.IsDirectory();
    item.size = entry.Size();
    item.time = FileTimeToU64(entry.writeTime);
    item.nameOffset = static_cast<uint32_t>(m_names.size());
    item.nameLength = static_cast<uint8_t>(std::min<size_t>(name.size(), kMaxNameBytes));
    const std::string_view ext = ExtensionOf(name.substr(0, item.nameLength));
    item.extLength = static_cast<uint8_t>(ext.size());
    if (!item.isDirectory) item.type = CFileTypeCache::Instance().TypeOf(ext);
    m_names.append(name.data(), item.nameLength);
    m_order.push_back(static_cast<uint32_t>(m_items.size()));
    m_items.push_back(item);
}

void CFileListModel::ListDirectory(CIndexReader& reader, const IndexEntry* directory,
                                   int sortColumn, int sortDirection) {
    beginResetModel();
    m_items.clear();
    m_order.clear();
    m_names.clear();
    IndexEntry e;
    // The first entry's id is the directory's first-child link (88 at the root),
    // every later one the next-sibling link of the entry before it.
    int32_t id = directory ? directory->firstChild : kFirstEntryId;
    if (reader.IsOpen() && reader.ReadFirstEntry(directory, e)) {
        do {
            Append(id, e);
            id = e.nextSibling;
        } while (reader.ReadNextEntry(e, e));
    }
    m_items.shrink_to_fit();
    SortOrder(m_order, sortColumn, sortDirection);
    m_sortColumn = sortColumn;
    m_sortDirection = sortDirection;
    endResetModel();
}

void CFileListModel::Clear() {
    beginResetModel();
    std::vector<FileListItem>().swap(m_items);
    std::vector<uint32_t>().swap(m_order);
    std::string().swap(m_names);
    endResetModel();
}

namespace {

// The first eight bytes of a name with A-Z folded, big-endian, zero padded: names
// whose prefixes differ compare as these numbers do, so most comparisons of a sort
// never touch the names. Up to the first difference two names share character
// boundaries, so folding each on its own gives the same bytes as folding both.
uint64_t FoldedPrefix(std::string_view name) {
    uint64_t key = 0;
    size_t i = 0;
    const char* p = name.data();
    const char* end = p + name.size();
    while (i < 8 && p < end) {
        const size_t n = StoredCharLength(p, end);
        for (size_t k = 0; k < n && i < 8; ++k, ++i) {
            const char c = n == 1 ? LowerAZ(p[k]) : p[k];
            key |= static_cast<uint64_t>(static_cast<unsigned char>(c)) << (56 - 8 * i);
        }
        p += n;
    }
    return key;
}

// One row's sort key: its group (directories before or after files), a number
// that decides most comparisons, and the record.
struct SortKey {
    uint64_t value;
    uint32_t item;
    uint32_t group;
};

}  // namespace

void CFileListModel::SortOrder(std::vector<uint32_t>& order, int column, int direction) const {
    // Always from the listing order, so a column and direction give one order
    // whatever was shown before.
    std::iota(order.begin(), order.end(), 0u);
    if (column < kColName || column > kColTime) return;
    std::vector<SortKey> keys(order.size());
    for (uint32_t i = 0; i < keys.size(); ++i) {
        const FileListItem& item = m_items[i];
        SortKey& k = keys[i];
        k.item = i;
        // Type puts files first, every other column directories first.
        k.group = (column == kColType) == item.isDirectory ? 1 : 0;
        const std::string_view name = NameOf(item);
        switch (column) {
            case kColName:
                k.value = NaturalSortKey(name);
                break;
            case kColSize:
                k.value = item.isDirectory ? 0 : item.size;
                break;
            case kColType:
                k.value =
                    item.isDirectory ? 0 : FoldedPrefix(name.substr(name.size() - item.extLength));
                break;
            default:
                k.value = item.time;
                break;
        }
    }
    auto compare = [&](const SortKey& a, const SortKey& b) {
        if (a.group != b.group) return a.group < b.group ? -1 : 1;
        if (a.value != b.value) return a.value < b.value ? -1 : 1;
        if (column != kColName && column != kColType) return 0;
        const FileListItem& x = m_items[a.item];
        const FileListItem& y = m_items[b.item];
        if (x.isDirectory && column == kColType) return 0;
        std::string_view nx = NameOf(x), ny = NameOf(y);
        if (column == kColType) {
            nx = nx.substr(nx.size() - x.extLength);
            ny = ny.substr(ny.size() - y.extLength);
        }
        return column == kColName ? CompareNatural(nx, ny) : CompareNoCaseAZ(nx, ny);
    };
    std::stable_sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
        return compare(a, b) * direction < 0;
    });
    for (size_t row = 0; row < keys.size(); ++row) order[row] = keys[row].item;
}

void CFileListModel::Sort(int column, int direction) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<uint32_t> itemsBefore;
    itemsBefore.reserve(before.size());
    for (const QModelIndex& index : before) itemsBefore.push_back(m_order[index.row()]);

    SortOrder(m_order, column, direction);

    if (!before.isEmpty()) {
        std::vector<uint32_t> rowOf(m_order.size());
        for (uint32_t row = 0; row < m_order.size(); ++row) rowOf[m_order[row]] = row;
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            after << index(static_cast<int>(rowOf[itemsBefore[i]]), before[i].column());
        changePersistentIndexList(before, after);
    }
    m_sortColumn = column;
    m_sortDirection = direction;
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColCount;
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_order.size())) return {};
    const FileListItem& item = Item(index.row());
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (role == Qt::ToolTipRole && column != kColName) return {};
            switch (column) {
                case kColName:
                    return QString::fromStdString(StoredToHost(NameOf(item)));
                case kColSize:
                    return item.isDirectory ? QString() : SizeText(item.size);
                case kColType:
                    return item.isDirectory ? CFileTypeCache::Instance().Folder().name
                                            : CFileTypeCache::Instance().Type(item.type).name;
                case kColTime:
                    return DateText(U64ToFileTime(item.time));
            }
            return {};
        case Qt::DecorationRole:
            if (column != kColName) return {};
            return item.isDirectory ? CFileTypeCache::Instance().Folder().icon
                                    : CFileTypeCache::Instance().Type(item.type).icon;
        case Qt::TextAlignmentRole:
            // Only the size is right-aligned; the others follow the view (centred
            // under large icons).
            return column == kColSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        case kEntryIdRole:
            return item.id;
    }
    return {};
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
            case kColName:
                return QStringLiteral("名称");
            case kColSize:
                return QStringLiteral("大小");
            case kColType:
                return QStringLiteral("类型");
            case kColTime:
                return QStringLiteral("修改时间");
        }
    }
    // The arrow is drawn; a screen reader is told the order in words.
    if (role == Qt::AccessibleDescriptionRole && section == m_sortColumn)
        return m_sortDirection == -1 ? QStringLiteral("降序排列") : QStringLiteral("升序排列");
    if (role == Qt::TextAlignmentRole)
        return section == kColSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                   : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

int CFileListModel::FindRow(std::string_view storedName) const {
    for (size_t row = 0; row < m_order.size(); ++row)
        if (NameOf(m_items[m_order[row]]) == storedName) return static_cast<int>(row);
    return -1;
}

// ---------------------------------------------------------------- header

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setObjectName(QStringLiteral("sortHeader"));
    setSectionsClickable(true);
    setSortIndicatorShown(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_sortColumn = ReadSettingInt(kKeySortCol, 0);
    // Only -1 means descending: a damaged value must not make every row equal.
    m_sortDirection = ReadSettingInt(kKeySortDir, 1) == -1 ? -1 : 1;
    connect(this, &QHeaderView::sectionClicked, this, &CSortHeaderCtrl::ClickColumn);
}

CSortHeaderCtrl::~CSortHeaderCtrl() {
    WriteSettingInt(kKeySortCol, m_sortColumn);
    WriteSettingInt(kKeySortDir, m_sortDirection);
}

void CSortHeaderCtrl::SetSort(int column, int direction) {
    m_sortColumn = column;
    m_sortDirection = direction == -1 ? -1 : 1;
    viewport()->update();
    emit sortChanged(m_sortColumn, m_sortDirection);
}

void CSortHeaderCtrl::ClickColumn(int column) {
    if (column == m_sortColumn)
        SetSort(column, -m_sortDirection);
    else
        SetSort(column, 1);
}

void CSortHeaderCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    // Two quick clicks are two clicks: the second reverses the order. Qt would take
    // it as a double click and drop it. (A double click on a divider still fits the
    // column, as it did.)
    const int pos = event->position().toPoint().x();
    const int section = logicalIndexAt(pos);
    const int edge = section < 0 ? 0 : sectionViewportPosition(section);
    const bool onDivider =
        section >= 0 && (pos - edge < 4 || edge + sectionSize(section) - pos < 4);
    if (onDivider || section < 0)
        QHeaderView::mouseDoubleClickEvent(event);
    else
        ClickColumn(section);
}

void CSortHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    painter->save();
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = rect;
    opt.section = logicalIndex;
    opt.text.clear();
    opt.sortIndicator = QStyleOptionHeader::None;
    style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);

    const QString text =
        model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
    const QFontMetrics fm(font());
    QRect textRect = rect.adjusted(4, 0, 0, 0);
    if (logicalIndex == m_sortColumn) {
        constexpr int kArrow = 16;
        int arrowLeft = 0;
        const int textWidth = fm.horizontalAdvance(text);
        if (textWidth + 32 > textRect.width()) {
            textRect.setRight(textRect.right() - 32);
            arrowLeft = textRect.right() + 8;
        } else {
            textRect.setWidth(textWidth);
            arrowLeft = textRect.right() + 8;
        }
        QStyleOption arrow;
        arrow.initFrom(this);
        const int side = std::min(kArrow, rect.height() - 4) / 2 * 2;
        arrow.rect = QRect(arrowLeft, rect.top() + (rect.height() - side) / 2, side, side);
        // Down while ascending, up while descending, as the program always showed it.
        style()->drawPrimitive(
            m_sortDirection == -1 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown,
            &arrow, painter, this);
    }
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      fm.elidedText(text, Qt::ElideMiddle, std::max(0, textRect.width())));
    painter->restore();
}

// ---------------------------------------------------------------- views

namespace {

// The two views hand a drag start to the list, which builds the data itself.
template <class Base>
class CDragView : public Base {
public:
    explicit CDragView(std::function<void()> onDrag, QWidget* parent = nullptr)
        : Base(parent), m_onDrag(std::move(onDrag)) {}

protected:
    void startDrag(Qt::DropActions) override { m_onDrag(); }

private:
    std::function<void()> m_onDrag;
};

// Every item of the icon and list styles takes one grid cell, so long names are
// cut at the cell rather than at the width of the first name.
class CCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void SetCell(QSize cell) { m_cell = cell; }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return m_cell.isValid() ? m_cell : QStyledItemDelegate::sizeHint(option, index);
    }

private:
    QSize m_cell;
};

void SetUpView(QAbstractItemView* view) {
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setDragEnabled(true);
    view->setDragDropMode(QAbstractItemView::DragOnly);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
}

}  // namespace

CFileListCtrl::CFileListCtrl(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("fileList"));
    m_model = new CFileListModel(this);
    m_selection = new QItemSelectionModel(m_model, this);
    auto onDrag = [this] { emit dragRequested(); };

    m_report = new CDragView<QTreeView>(onDrag, this);
    m_report->setObjectName(QStringLiteral("fileListReport"));
    m_report->setAccessibleName(QStringLiteral("文件列表"));
    m_header = new CSortHeaderCtrl(m_report);
    m_report->setHeader(m_header);
    m_report->setModel(m_model);
    m_report->setSelectionModel(m_selection);
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setAllColumnsShowFocus(true);
    m_report->setSortingEnabled(false);
    // The line above also makes the header unclickable; the header sorts itself.
    m_header->setSectionsClickable(true);
    m_report->setIconSize(QSize(16, 16));
    SetUpView(m_report);
    m_header->setStretchLastSection(false);
    // Wide enough for today's fonts: "4882813K" or "DOS/Windows 可执行文件" must not
    // be cut at first sight.
    m_header->resizeSection(kColName, 200);
    m_header->resizeSection(kColSize, 80);
    m_header->resizeSection(kColType, 150);
    m_header->resizeSection(kColTime, 100);

    m_icons = new CDragView<QListView>(onDrag, this);
    m_icons->setObjectName(QStringLiteral("fileListIcons"));
    m_icons->setAccessibleName(QStringLiteral("文件列表"));
    m_icons->setModel(m_model);
    m_icons->setSelectionModel(m_selection);
    m_icons->setUniformItemSizes(true);
    m_icons->setItemDelegate(new CCellDelegate(m_icons));
    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setLayoutMode(QListView::Batched);
    m_icons->setBatchSize(2000);
    SetUpView(m_icons);

    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_report);
    m_stack->addWidget(m_icons);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_icons)}) {
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& p) {
            emit contextMenuRequested(view->viewport()->mapToGlobal(p));
        });
        connect(view, &QAbstractItemView::clicked, this,
                [this](const QModelIndex& index) { emit rowClicked(index.row()); });
        // Activation is a double click, Enter, or a single click where the desktop
        // opens items that way.
        connect(view, &QAbstractItemView::activated, this,
                [this](const QModelIndex& index) { emit rowDoubleClicked(index.row()); });
    }
    connect(m_header, &CSortHeaderCtrl::sortChanged, this, &CFileListCtrl::Resort);

    SetStyle(ReadSettingInt(kKeyListStyle, kStyleReport));
}

CFileListCtrl::~CFileListCtrl() {
    WriteSettingInt(kKeyListStyle, m_style);
}

QAbstractItemView* CFileListCtrl::View() const {
    return m_style == kStyleReport ? static_cast<QAbstractItemView*>(m_report)
                                   : static_cast<QAbstractItemView*>(m_icons);
}

void CFileListCtrl::SetStyle(int style) {
    if (style < kStyleLargeIcons || style > kStyleList) style = kStyleReport;
    const bool hadFocus = View()->hasFocus();
    m_style = style;
    switch (style) {
        case kStyleLargeIcons:
            m_icons->setViewMode(QListView::IconMode);
            m_icons->setFlow(QListView::LeftToRight);
            m_icons->setWrapping(true);
            m_icons->setWordWrap(true);
            m_icons->setIconSize(QSize(32, 32));
            m_icons->setGridSize(QSize(96, 72));
            break;
        case kStyleSmallIcons:
            m_icons->setViewMode(QListView::ListMode);
            m_icons->setFlow(QListView::LeftToRight);
            m_icons->setWrapping(true);
            m_icons->setWordWrap(false);
            m_icons->setIconSize(QSize(16, 16));
            m_icons->setGridSize(QSize(180, 22));
            break;
        case kStyleList:
            m_icons->setViewMode(QListView::ListMode);
            m_icons->setFlow(QListView::TopToBottom);
            m_icons->setWrapping(true);
            m_icons->setWordWrap(false);
            m_icons->setIconSize(QSize(16, 16));
            m_icons->setGridSize(QSize(200, 22));
            break;
        default:
            break;
    }
    if (style != kStyleReport) {
        m_icons->setMovement(QListView::Static);
        const QSize grid = m_icons->gridSize();
        static_cast<CCellDelegate*>(m_icons->itemDelegate())
            ->SetCell(QSize(grid.width() - 6, grid.height() - 2));
    }
    m_stack->setCurrentWidget(View());
    if (hadFocus) View()->setFocus();
    const QModelIndex current = m_selection->currentIndex();
    if (current.isValid()) View()->scrollTo(current);
}

std::vector<int> CFileListCtrl::SelectedRows() const {
    std::vector<int> rows;
    for (const QItemSelectionRange& range : m_selection->selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int CFileListCtrl::MarkRow() const {
    const QModelIndex current = m_selection->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void CFileListCtrl::SelectOnly(int row) {
    const QModelIndex index = m_model->index(row, 0);
    m_selection->setCurrentIndex(index,
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    View()->scrollTo(index);
}

void CFileListCtrl::Resort() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_model->Sort(m_header->SortColumn(), m_header->SortDirection());
    QApplication::restoreOverrideCursor();
}

}  // namespace orb
