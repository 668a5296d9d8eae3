// SPDX-License-Identifier: GPL-3.0-or-later
// The file list view: listing, annotations, and the ways out to the real disc.
#include "views/orb_view.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDrag>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QVBoxLayout>

#include "audit/ui/export_file.h"
#include "favorites/store/fav_drag.h"
#include "index/doc/orb_doc.h"
#include "platform/error_text.h"
#include "platform/text.h"
#include "shell/orb_shell.h"
#include "views/dir_view.h"
#include "views/drag_origin.h"
#include "views/remark_view.h"
#include "views/view_rules.h"

namespace orb {

COrbView::COrbView(COrbDoc& doc, IOrbShell& shell, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_shell(shell) {
    setObjectName(QStringLiteral("orbView"));
    m_list = new CFileListCtrl(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    setFocusProxy(m_list->View());

    m_message = [this](const QString& text) {
        QMessageBox::warning(m_shell.MainWindow(), QStringLiteral("提示"), text);
    };
    // The desktop starts the handler in its own process; nothing here waits for it.
    m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    connect(m_list, &CFileListCtrl::rowClicked, this, [this](int) { ShowItemAnnotation(); });
    connect(&m_list->Selection(), &QItemSelectionModel::currentChanged, this,
            [this] { ShowItemAnnotation(); });
    connect(m_list, &CFileListCtrl::rowDoubleClicked, this, &COrbView::OpenRow);
    connect(m_list, &CFileListCtrl::contextMenuRequested, this, &COrbView::OnContextMenu);
    connect(m_list, &CFileListCtrl::dragRequested, this, &COrbView::StartDrag);
}

COrbView::~COrbView() = default;

void COrbView::ShowDirectory(const std::string& storedPath, const IndexEntry* directory) {
    m_currentPath = storedPath;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_list->Model().ListDirectory(m_doc.Index(), directory, m_list->Header().SortColumn(),
                                  m_list->Header().SortDirection());
    QApplication::restoreOverrideCursor();
}

void COrbView::Clear() {
    m_currentPath.clear();
    m_list->Model().Clear();
}

void COrbView::ShowItemAnnotation() {
    m_doc.CommitAnnotationEdit();
    const int row = m_list->MarkRow();
    if (row < 0) return;
    CRemarkView* remark = m_shell.RemarkView();
    if (!remark) return;
    const int32_t id = m_list->Model().Item(row).id;
    // Another window or machine may have saved notes since they were read.
    m_doc.Index().RefreshAnnotations();
    remark->ShowAnnotation(id, m_doc.Index().FindAnnotation(id));
}

int COrbView::SelectItemByName(const std::string& storedName) {
    m_list->View()->setFocus();
    m_list->Selection().clearSelection();
    const int row = m_list->Model().FindRow(storedName);
    if (row < 0) return 0;
    m_list->SelectOnly(row);
    ShowItemAnnotation();
    return 1;
}

int COrbView::SelectedCount() const {
    return static_cast<int>(m_list->SelectedRows().size());
}

bool COrbView::GetSelectedEntry(IndexEntry& entry, int32_t& id) const {
    const std::vector<int> rows = m_list->SelectedRows();
    if (rows.empty()) return false;
    const CFileListModel& model = m_list->Model();
    const FileListItem& item = model.Item(rows.front());
    entry = IndexEntry();
    entry.flags = item.isDirectory ? kEntryDirectory : 0;
    entry.SetSize(item.size);
    entry.writeTime = U64ToFileTime(item.time);
    entry.SetName(model.Name(rows.front()));
    id = item.id;
    return true;
}

bool COrbView::SelectedHostPaths(std::vector<std::string>& paths) const {
    paths.clear();
    if (m_doc.DiscDrive().empty()) return false;
    for (int row : m_list->SelectedRows()) {
        std::string path;
        if (!JoinDiscPath(m_doc.DiscDrive(), m_currentPath, m_list->Model().Name(row), path))
            return false;
        paths.push_back(std::move(path));
    }
    return !paths.empty();
}

bool COrbView::CanEditCopy() const {
    return !m_doc.DiscDrive().empty() && SelectedCount() > 0;
}

QMimeData* COrbView::BuildCopyData(QString* refusal) const {
    if (!CanEditCopy()) return nullptr;
    std::vector<std::string> paths;
    if (!SelectedHostPaths(paths)) {
        if (refusal) *refusal = QString::fromUtf8(kUnknownErrorText);
        return nullptr;
    }
    auto* mime = new QMimeData;
    FillFileListMime(*mime, paths);
    return mime;
}

void COrbView::OnEditCopy() {
    if (!CanEditCopy()) return;  // disabled: ignored
    QString refusal;
    QMimeData* mime = BuildCopyData(&refusal);
    if (!mime) {
        if (!refusal.isEmpty()) ShowMessage(refusal);
        return;
    }
    QApplication::clipboard()->setMimeData(mime);
}

QMimeData* COrbView::BuildDragData() const {
    const std::vector<int> rows = m_list->SelectedRows();
    if (rows.empty()) return nullptr;
    auto mime = std::make_unique<QMimeData>();
    bool offered = false;
    std::vector<std::string> paths;
    if (SelectedHostPaths(paths)) {
        FillFileListMime(*mime, paths);
        offered = true;
    }
    if (rows.size() == 1) {
        const std::string_view name = m_list->Model().Name(rows.front());
        FavSoftDragData data{m_doc.Index().GetFilePath(), m_currentPath, std::string(name)};
        std::string block;
        // A name that could not be joined safely is not offered to the favourites
        // either: they would open it on the disc later.
        if (IsSafePathComponent(name) && EncodeFavSoftDrag(data, block)) {
            mime->setData(QString::fromLatin1(kFavSoftDragFormat),
                          QByteArray(block.data(), static_cast<qsizetype>(block.size())));
            offered = true;
        }
    }
    if (!offered) return nullptr;
    MarkDragFromThisProcess(mime.get());
    return mime.release();
}

void COrbView::StartDrag() {
    QMimeData* mime = BuildDragData();
    if (!mime) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    m_shell.SetFileListDragActive(true);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    m_shell.SetFileListDragActive(false);
}

void COrbView::OpenRow(int row) {
    if (row < 0 || row >= m_list->Model().rowCount()) return;
    const FileListItem& item = m_list->Model().Item(row);
    const std::string name(m_list->Model().Name(row));
    if (item.isDirectory) {
        if (CCDDirView* tree = m_shell.DirView()) tree->SelectChildDirectory(name);
        return;
    }
    if (m_doc.DiscDrive().empty()) {
        ShowMessage(QString::fromUtf8(kNoDiscText));
        return;
    }
    std::string path;
    if (!JoinDiscPath(m_doc.DiscDrive(), m_currentPath, name, path))
        ShowMessage(QString::fromUtf8(kUnknownErrorText));
    else if (!m_openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        ShowMessage(QString::fromStdString(NoOpenerText(path)));
}

void COrbView::OnExplore() {
    if (m_doc.DiscDrive().empty()) return;
    std::string path;
    if (!JoinDiscPath(m_doc.DiscDrive(), m_currentPath, {}, path))
        ShowMessage(QString::fromUtf8(kUnknownErrorText));
    else if (!m_openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        ShowMessage(QString::fromStdString(NoOpenerText(path)));
}

void COrbView::SetViewStyle(int style) {
    m_list->SetStyle(style);
    setFocusProxy(m_list->View());
}

int COrbView::ViewStyle() const {
    return m_list->Style();
}

void COrbView::ShowMessage(const QString& text) {
    if (m_message) m_message(text);
}

void COrbView::FillContextMenu(QMenu& menu) {
    menu.setObjectName(QStringLiteral("_filelistpopup_"));
    const bool discInDrive = !m_doc.DiscDrive().empty();
    const std::vector<int> rows = m_list->SelectedRows();

    QAction* copy = menu.addAction(QStringLiteral("复制(CTRL+C)"));
    copy->setObjectName(QStringLiteral("ID_EDIT_COPY"));
    copy->setEnabled(discInDrive && !rows.empty());
    QAction* explore = menu.addAction(QStringLiteral("资源管理器"));
    explore->setObjectName(QStringLiteral("ID_EXPLORE"));
    explore->setEnabled(discInDrive);
    menu.addSeparator();

    auto* styles = new QActionGroup(&menu);
    const struct {
        const char* text;
        const char* id;
        int style;
    } kStyles[] = {{"详细资料", "ID_LIST_DETAILS", kStyleReport},
                   {"大图标", "ID_LIST_LARGEICONS", kStyleLargeIcons},
                   {"小图标", "ID_LIST_SMALLICONS", kStyleSmallIcons},
                   {"列表", "ID_LIST_LIST", kStyleList}};
    for (const auto& s : kStyles) {
        QAction* a = menu.addAction(QString::fromUtf8(s.text));
        a->setObjectName(QString::fromLatin1(s.id));
        a->setCheckable(true);
        a->setChecked(ViewStyle() == s.style);
        a->setData(s.style);
        styles->addAction(a);
    }
    menu.addSeparator();
    QAction* favorite = menu.addAction(QStringLiteral("加入收藏夹"));
    favorite->setObjectName(QStringLiteral("ID_ADD_TO_FAVORITES"));
    const int mark = m_list->MarkRow();
    favorite->setEnabled(rows.size() == 1 && mark >= 0 && !m_list->Model().Item(mark).isDirectory);
    QAction* exportList = menu.addAction(QStringLiteral("导出列表..."));
    exportList->setObjectName(QStringLiteral("ID_EXPORT_LIST"));
    exportList->setEnabled(!m_doc.PathName().empty());
}

void COrbView::RunMenuCommand(const QAction* action) {
    if (!action || !action->isEnabled()) return;
    const QString id = action->objectName();
    if (id == QLatin1String("ID_EDIT_COPY"))
        OnEditCopy();
    else if (id == QLatin1String("ID_EXPLORE"))
        OnExplore();
    else if (id == QLatin1String("ID_ADD_TO_FAVORITES"))
        m_shell.AddFavoriteFromFileList();
    else if (id.startsWith(QLatin1String("ID_LIST_")))
        SetViewStyle(action->data().toInt());
    else if (id == QLatin1String("ID_EXPORT_LIST"))
        OnExportList();
}

void COrbView::OnExportList() {
    // A pending annotation edit is saved first, so the listing carries it.
    m_doc.CommitAnnotationEdit();
    const std::string index = m_doc.PathName();
    if (index.empty()) return;
    ExportFormat format = ExportFormat::Csv;
    const QString base = QFileInfo(QString::fromStdString(index)).completeBaseName();
    const QString path = ChooseExportFile(this, QStringLiteral("导出列表"), base, format);
    if (path.isEmpty()) return;
    RunExportToFile(this, path, [index, format](std::ostream& out, const std::atomic<bool>& stop) {
        CIndexReader reader;
        return reader.Open(index, OpenMode::ReadShareAll) &&
               ExportListing(reader, format, out, &stop);
    });
}

void COrbView::OnContextMenu(const QPoint& globalPos) {
    QMenu menu(this);
    FillContextMenu(menu);
    RunMenuCommand(menu.exec(globalPos));
}

}  // namespace orb
