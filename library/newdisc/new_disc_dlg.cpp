// SPDX-License-Identifier: GPL-3.0-or-later
// The new disc image dialog: drive choice, name and save location, the scan with its
// two progress bars, stop, and the completion into the library.
#include "library/newdisc/new_disc_dlg.h"

#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QVBoxLayout>
#include <thread>

#include "image/disc_image.h"
#include "index/disc_scanner.h"
#include "index/index_reader.h"
#include "library/newdisc/drive_combo_box.h"
#include "library/newdisc/eject.h"
#include "library/newdisc/library_location_dlg.h"
#include "library/newdisc/prompts.h"
#include "library/tree/library_tree.h"
#include "platform/drive_watcher.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/qt/qt_messages.h"
#include "platform/text.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"
#include "ui/ui_font.h"

namespace orb {

const char* const CNewDiscDlg::kNoDriveText =
    "没有安装光驱，不能创建Kelvane光盘助手映象!\n\n"
    "要为文件夹（U盘、移动硬盘、挂载的光盘映象或备份文件夹）建立索引，"
    "请使用“文件”菜单中的“从文件夹新建光盘映象...”。";

namespace {

constexpr const char* kSameLabelQuestion =
    "在当前光盘库找到一个与目标光盘卷标相同的光盘索引！\n位置:%1\n确定继续吗?";
constexpr const char* kSameFileWarning = "在当前目录下已经存在一个相同文件名的光盘文件";
constexpr const char* kStopQuestion = "确定要中止吗？";

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Which drives hold which disc now; compared to notice an arrival or a removal.
std::string DiscSnapshot() {
    std::shared_ptr<IDriveSystem> drives = Drives();
    std::string snap;
    for (const DriveInfo& d : drives->ListCdDrives()) {
        DiskGeometry g;
        std::string label;
        snap += d.root;
        if (drives->GetDiskFreeSpace(d.root, g) && drives->GetVolumeLabel(d.root, label))
            snap += "|" + label + "|" + std::to_string(g.Capacity());
        snap += "\n";
    }
    return snap;
}

// An indeterminate bar has the range 0..0; a measured one 0..100 from 0.
void ResetCollectBar(QProgressBar* bar, bool indeterminate) {
    bar->setRange(0, indeterminate ? 0 : 100);
    bar->setValue(0);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// While the scanner checks its drive, the folder of folder mode is a CD drive of
// the drive layer; the worker itself only lists files.
class CScopedFolderDrive {
public:
    explicit CScopedFolderDrive(const FolderDisc* folder) {
        if (!folder) return;
        previous_ = Drives();
        SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
            std::vector<VirtualDrive>{{folder->root, folder->label, folder->capacity, false}},
            previous_));
        active_ = true;
    }
    ~CScopedFolderDrive() {
        if (active_) SetDriveSystem(previous_);
    }
    CScopedFolderDrive(const CScopedFolderDrive&) = delete;
    CScopedFolderDrive& operator=(const CScopedFolderDrive&) = delete;

private:
    std::shared_ptr<IDriveSystem> previous_;
    bool active_ = false;
};

// The dialog's left-hand picture: our own artwork, a disc on a blue band.
QPixmap SidePicture(QSize size) {
    QPixmap pm(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, QColor(24, 52, 120));
    g.setColorAt(1, QColor(70, 130, 200));
    p.fillRect(pm.rect(), g);
    const qreal d = size.width() * 0.8;
    const QRectF disc((size.width() - d) / 2, size.height() * 0.22, d, d);
    QRadialGradient shine(disc.center(), d / 2);
    shine.setColorAt(0, QColor(250, 250, 255));
    shine.setColorAt(0.6, QColor(190, 210, 235));
    shine.setColorAt(1, QColor(150, 170, 210));
    p.setPen(QPen(QColor(230, 235, 245), 1.5));
    p.setBrush(shine);
    p.drawEllipse(disc);
    p.setBrush(QColor(40, 70, 140));
    p.drawEllipse(disc.center(), d * 0.1, d * 0.1);
    p.setPen(QColor(235, 240, 250));
    QFont f = SongtiFont(13);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, disc.bottom() + 12, size.width(), 40), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("光盘\n映象"));
    return pm;
}

}  // namespace

// The scanner with its message target. It outlives the dialog when the dialog goes
// while a worker may still send: the worker uses both until its final status.
class CScanSession : public QObject {
public:
    using Sink = std::function<LRESULT(uint32_t, WPARAM, LPARAM)>;

    CScanSession()
        : target_([this](uint32_t m, WPARAM w, LPARAM l) { return OnMessage(m, w, l); }) {
        scanner.SetNotifyWindow(&target_);
    }

    // The owner goes: a scan still outstanding is stopped and the session frees
    // itself on the final status; an idle one goes at once.
    void Release() {
        sink_ = nullptr;
        if (!finalPending) {
            delete this;
            return;
        }
        orphan_ = true;
        scanner.AbortScan();
        scanner.ResumeScan();
    }

    void SetSink(Sink sink) { sink_ = std::move(sink); }

    CDiscScanner scanner;
    bool finalPending = false;

private:
    LRESULT OnMessage(uint32_t msg, WPARAM w, LPARAM l) {
        const bool final = msg == WM_SCAN_STATUS && w >= SCAN_DONE;
        if (final) finalPending = false;
        LRESULT r = sink_ ? sink_(msg, w, l) : 0;
        if (final && orphan_) deleteLater();
        return r;
    }

    CQtMessageTarget target_;
    Sink sink_;
    bool orphan_ = false;
};

CNewDiscDlg::CNewDiscDlg(CLibraryTree* tree, IOrbShell& shell, QWidget* parent,
                         const std::string& folder)
    : QDialog(parent), m_tree(tree), m_shell(shell) {
    setWindowTitle(QStringLiteral("新建光盘映象"));
    setFont(SongtiFont(13));
    BuildControls();

    if (!folder.empty() && IsRegularFile(folder)) {
        m_imageMode = true;
        auto image = std::make_shared<CDiscImage>();
        if (image->Open(folder, m_imageError)) {
            image->CaptureReadme(kMaxRemarkBytes);
            m_image = std::move(image);
        }
        m_folder.root = folder;
        m_drives->SetFolder(m_folder.root);
        m_ejectCheck->setEnabled(false);
        m_textFiles->setEnabled(false);
    } else if (!folder.empty()) {
        if (!DescribeFolderDisc(folder, m_folder)) {
            m_folder = FolderDisc{};
            m_folder.root = NormalizeDriveRoot(folder);
        }
        m_drives->SetFolder(m_folder.root);
        m_ejectCheck->setEnabled(false);
    } else {
        m_drives->FillDrives(DRIVE_KIND_CDROM);
    }
    m_drives->setCurrentIndex(-1);

    // The save location: the selected category, a selected disc's category, or the
    // library root.
    std::string location;
    if (m_tree) {
        QTreeWidgetItem* item = m_tree->currentItem();
        if (item && !item->isSelected()) item = nullptr;
        if (item && !m_tree->IsCategoryItem(item)) item = item->parent();
        if (!item) item = m_tree->RootItem();
        if (item) location = m_tree->GetItemPath(item, false);
    }
    if (location.empty()) location = GetLibraryDirectory();
    SetSaveLocation(location);
    m_remarkCheck->setChecked(true);
    UpdateCreateButton();

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the refresh waits the whole second.
    m_refreshTimer->setTimerType(Qt::PreciseTimer);
    connect(m_refreshTimer, &QTimer::timeout, this, &CNewDiscDlg::RefreshDrives);
    if (!IsFolderMode()) {
        m_watchedDiscs = DiscSnapshot();
        m_watcher = std::make_unique<CDriveWatcher>([this](DriveChange) {
            // On the watcher's thread: only a disc that came or went restarts the timer.
            std::string now = DiscSnapshot();
            if (now == m_watchedDiscs) return;
            m_watchedDiscs = std::move(now);
            QMetaObject::invokeMethod(
                this, [this] { OnDriveChange(); }, Qt::QueuedConnection);
        });
        m_watcher->Start();
    }
}

CNewDiscDlg::~CNewDiscDlg() {
    if (m_watcher) m_watcher->Stop();
    if (m_session) m_session->Release();
}

void CNewDiscDlg::BuildControls() {
    auto* picture = new QLabel(this);
    picture->setPixmap(SidePicture(QSize(80, 250)));
    picture->setFrameShape(QFrame::Panel);
    picture->setFrameShadow(QFrame::Sunken);
    picture->setAlignment(Qt::AlignTop);

    m_locationEdit = new QLineEdit(this);
    m_locationEdit->setReadOnly(true);
    m_locationEdit->setObjectName(QStringLiteral("locationEdit"));
    m_locationButton = new QPushButton(QStringLiteral("..."), this);
    m_locationButton->setObjectName(QStringLiteral("locationButton"));
    m_locationButton->setFixedWidth(28);
    m_locationButton->setAutoDefault(false);
    m_drives = new CDriveComboBox(this);
    m_drives->setObjectName(QStringLiteral("driveList"));
    m_drives->setMinimumWidth(230);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_ejectCheck = new QCheckBox(QStringLiteral("自动弹出光盘"), this);
    m_ejectCheck->setObjectName(QStringLiteral("ejectCheck"));
    m_remarkCheck = new QCheckBox(QStringLiteral("自动注释"), this);
    m_remarkCheck->setObjectName(QStringLiteral("remarkCheck"));
    m_textFiles = new QComboBox(this);
    m_textFiles->setObjectName(QStringLiteral("textFileList"));
    m_textFiles->setMinimumWidth(110);
    m_collectBar = new QProgressBar(this);
    m_collectBar->setObjectName(QStringLiteral("collectBar"));
    m_saveBar = new QProgressBar(this);
    m_saveBar->setObjectName(QStringLiteral("saveBar"));
    for (QProgressBar* bar : {m_collectBar, m_saveBar}) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }
    m_createButton = new QPushButton(QStringLiteral("创建"), this);
    m_createButton->setObjectName(QStringLiteral("createButton"));
    m_createButton->setDefault(true);
    m_exitButton = new QPushButton(QStringLiteral("退出"), this);
    m_exitButton->setObjectName(QStringLiteral("exitButton"));
    m_exitButton->setAutoDefault(false);

    auto* grid = new QGridLayout;
    // Each field is read out under its label's text.
    auto labelFor = [this](const char* text, QWidget* field) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setBuddy(field);
        return label;
    };
    grid->addWidget(labelFor("保存位置:", m_locationEdit), 0, 0);
    grid->addWidget(m_locationEdit, 0, 1);
    grid->addWidget(m_locationButton, 0, 2);
    grid->addWidget(labelFor("选择光盘:", m_drives), 1, 0);
    grid->addWidget(m_drives, 1, 1, 1, 2);
    grid->addWidget(labelFor("名称:", m_nameEdit), 2, 0);
    grid->addWidget(m_nameEdit, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral(".ORB"), this), 2, 2);
    auto* options = new QHBoxLayout;
    options->addWidget(m_ejectCheck);
    options->addWidget(m_remarkCheck);
    options->addWidget(m_textFiles, 1);
    m_textFiles->setAccessibleName(QStringLiteral("注释来源文件"));
    m_locationButton->setAccessibleName(QStringLiteral("选择保存位置"));
    grid->addLayout(options, 3, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("收集光盘信息..."), this), 4, 0, 1, 3);
    grid->addWidget(m_collectBar, 5, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("保存到磁盘..."), this), 6, 0, 1, 3);
    grid->addWidget(m_saveBar, 7, 0, 1, 3);
    // What the last scan could not read; hidden while there is nothing to say.
    m_unreadLabel = new QLabel(this);
    m_unreadLabel->setObjectName(QStringLiteral("unreadableLabel"));
    m_unreadLabel->setWordWrap(true);
    m_unreadButton = new QPushButton(QStringLiteral("详情"), this);
    m_unreadButton->setObjectName(QStringLiteral("unreadableButton"));
    m_unreadButton->setAutoDefault(false);
    auto* unread = new QHBoxLayout;
    unread->addWidget(m_unreadLabel, 1);
    unread->addWidget(m_unreadButton);
    grid->addLayout(unread, 8, 0, 1, 3);
    ShowUnreadable(ScanUnreadable{});
    m_doneLabel = new QLabel(this);
    m_doneLabel->setObjectName(QStringLiteral("doneLabel"));
    m_openButton = new QPushButton(QStringLiteral("打开索引"), this);
    m_openButton->setObjectName(QStringLiteral("openIndexButton"));
    m_openButton->setAutoDefault(false);
    auto* done = new QHBoxLayout;
    done->addWidget(m_doneLabel, 1);
    done->addWidget(m_openButton);
    grid->addLayout(done, 10, 0, 1, 3);
    ShowDone(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_createButton);
    buttons->addStretch(1);
    buttons->addWidget(m_exitButton);
    grid->addLayout(buttons, 9, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    auto* outer = new QHBoxLayout(this);
    outer->addWidget(picture, 0, Qt::AlignTop);
    outer->addLayout(grid, 1);
    setSizeGripEnabled(false);

    connect(m_drives, qOverload<int>(&QComboBox::activated), this, &CNewDiscDlg::ChooseDrive);
    connect(m_nameEdit, &QLineEdit::textChanged, this, [this] { UpdateCreateButton(); });
    connect(m_nameEdit, &QLineEdit::textEdited, this, [this] {
        m_createLocked = false;
        UpdateCreateButton();
    });
    connect(m_createButton, &QPushButton::clicked, this, &CNewDiscDlg::OnCreate);
    connect(m_exitButton, &QPushButton::clicked, this, &CNewDiscDlg::reject);
    connect(m_locationButton, &QPushButton::clicked, this, &CNewDiscDlg::OnChooseLocation);
    connect(m_unreadButton, &QPushButton::clicked, this, &CNewDiscDlg::ShowUnreadableDetails);
    connect(m_openButton, &QPushButton::clicked, this, &CNewDiscDlg::OpenNewIndex);
    connect(m_textFiles, qOverload<int>(&QComboBox::activated), this, [this](int) {
        // A new choice during the scan applies when it is from the scanned disc.
        if (ScanOutstanding() && m_textListRoot == m_scanRoot)
            m_scanRemarkFile = m_textFiles->currentText().toStdString();
    });
}

bool CNewDiscDlg::CanRun(QWidget* parent) {
    if (!Drives()->ListCdDrives().empty()) return true;
    ShowNewDiscPrompt(
        parent, {NewDiscPrompt::Notice, QStringLiteral("提示"), QString::fromUtf8(kNoDriveText)});
    return false;
}

int CNewDiscDlg::exec() {
    if (!IsFolderMode() && m_drives->count() == 0) {
        ShowNewDiscPrompt(parentWidget(), {NewDiscPrompt::Notice, QStringLiteral("提示"),
                                           QString::fromUtf8(kNoDriveText)});
        return QDialog::Rejected;
    }
    return QDialog::exec();
}

void CNewDiscDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_firstShow && IsFolderMode()) {
        // The folder was chosen already: take it as soon as the dialog is up.
        QTimer::singleShot(0, this, [this] {
            if (m_selectedDrive < 0) ChooseDrive(0);
        });
    } else if (m_firstShow) {
        // A disc just put in (or the only one there) is what the user came for:
        // choose it, so label, name and text files are filled in and 创建 is ready.
        std::vector<std::string> roots;
        std::vector<bool> holds;
        for (int i = 0; i < m_drives->count(); ++i) {
            roots.push_back(m_drives->DriveOf(i));
            DiskGeometry geometry;
            holds.push_back(Drives()->GetDiskFreeSpace(roots.back(), geometry));
        }
        const int position = DriveToPreselect(roots, holds, m_arrivedRoot);
        if (position >= 0)
            QTimer::singleShot(0, this, [this, position] {
                if (m_selectedDrive < 0) ChooseDrive(position);
            });
    }
    m_firstShow = false;
}

bool CNewDiscDlg::ScanOutstanding() const {
    return m_session && m_session->finalPending;
}

bool CNewDiscDlg::IsScanning() const {
    return m_session && m_session->scanner.IsRunning();
}

bool CNewDiscDlg::RefreshPending() const {
    return m_refreshTimer->isActive();
}

void CNewDiscDlg::SetSaveLocation(const std::string& location) {
    m_saveLocation = location;
    if (!m_saveLocation.empty() && m_saveLocation.back() != '/') m_saveLocation += '/';
    m_locationEdit->setText(QString::fromStdString(m_saveLocation));
}

void CNewDiscDlg::UpdateCreateButton() {
    const int pos = m_drives->currentIndex();
    m_createButton->setEnabled(!m_createLocked &&
                               CanCreate(pos >= 0 && pos == m_selectedDrive,
                                         m_nameEdit->text().toStdString(), ScanOutstanding()));
}

std::string CNewDiscDlg::DiscIdentity(int position) const {
    const std::string root = m_drives->DriveOf(position);
    if (root.empty()) return {};
    if (IsImageMode()) return m_image ? root + "|" + m_image->StoredLabel() : std::string();
    if (IsFolderMode()) return IsDirectory(root) ? root + "|" + m_folder.label : std::string();
    std::shared_ptr<IDriveSystem> drives = Drives();
    DiskGeometry g;
    std::string label;
    if (!drives->GetDiskFreeSpace(root, g)) return {};
    drives->GetVolumeLabel(root, label);
    return root + "|" + label + "|" + std::to_string(g.Capacity());
}

void CNewDiscDlg::ChooseDrive(int position) {
    m_selectedDrive = position;
    if (position < 0 || position >= m_drives->count()) {
        UpdateCreateButton();
        return;
    }
    if (m_drives->currentIndex() != position) m_drives->setCurrentIndex(position);
    const std::string root = m_drives->DriveOf(position);

    bool hasDisc;
    std::string storedLabel;
    if (IsImageMode()) {
        hasDisc = m_image != nullptr;
        if (hasDisc) {
            storedLabel = m_image->StoredLabel();
        } else {
            ShowNewDiscPrompt(this, {NewDiscPrompt::Notice, QStringLiteral("错误"),
                                     QString::fromStdString(m_imageError)});
        }
    } else if (IsFolderMode()) {
        hasDisc = IsDirectory(root);
        storedLabel = HostToStored(m_folder.label);
    } else {
        std::shared_ptr<IDriveSystem> drives = Drives();
        DiskGeometry g;
        hasDisc = drives->GetDiskFreeSpace(root, g);
        if (hasDisc && !drives->GetVolumeLabel(root, storedLabel)) storedLabel.clear();
    }
    m_chosenIdentity = DiscIdentity(position);

    std::string found;
    if (hasDisc && m_tree && m_tree->FindDiscByLabel(storedLabel, found)) {
        const QString text =
            QString::fromUtf8(kSameLabelQuestion).arg(QString::fromStdString(found));
        if (!ShowNewDiscPrompt(this, {NewDiscPrompt::Question, QStringLiteral("提示"), text})) {
            m_drives->setCurrentIndex(-1);
            UpdateCreateButton();
            return;
        }
    }

    std::string name = hasDisc ? DiscNameFromLabel(storedLabel) : std::string();
    if (hasDisc && name.empty() && IsImageMode()) {
        // An image without a label is named after its file.
        std::string base = root.substr(root.rfind('/') + 1);
        if (const size_t dot = base.rfind('.'); dot != std::string::npos && dot > 0)
            base.erase(dot);
        name = DiscNameFromLabel(HostToStored(base));
    }
    m_textFiles->clear();
    m_textListRoot = root;
    if (!name.empty()) {
        if (DiscFileTaken(m_saveLocation, name)) {
            ShowNewDiscPrompt(this, {NewDiscPrompt::Warning, QStringLiteral("警告"),
                                     QString::fromUtf8(kSameFileWarning)});
            // The next free name, so the scan never overwrites an index.
            name = NextFreeDiscName(m_saveLocation, name);
        }
        // An image's readme is read while it is listed; its other files are not
        // files of this machine.
        const std::vector<std::string> texts =
            IsImageMode() ? std::vector<std::string>() : ListRootTextFiles(root);
        for (const std::string& t : texts) m_textFiles->addItem(QString::fromStdString(t));
        m_textFiles->setCurrentIndex(PickRemarkFile(texts));
    }
    m_nameEdit->setText(QString::fromStdString(name));
    if (!name.empty()) m_createLocked = false;
    UpdateCreateButton();
}

void CNewDiscDlg::OnChooseLocation() {
    CLibraryLocationDlg dlg(m_tree, this);
    dlg.SelectPath(m_saveLocation);
    if (dlg.exec() == QDialog::Accepted && !dlg.SelectedPath().empty())
        SetSaveLocation(dlg.SelectedPath());
}

void CNewDiscDlg::OnCreate() {
    const int position = m_drives->currentIndex();
    // Never without a valid drive, and never while a worker may still send.
    if (!m_createButton->isEnabled() || ScanOutstanding() || position < 0 ||
        position != m_selectedDrive)
        return;
    const std::string root = m_drives->DriveOf(position);
    std::string name = m_nameEdit->text().toStdString();
    const DiscNameProblem problem = CheckDiscName(name);
    if (problem != DiscNameProblem::None) {
        ShowNewDiscPrompt(this, {NewDiscPrompt::Notice, QStringLiteral("提示"),
                                 QString::fromUtf8(DiscNameProblemText(problem))});
        return;
    }
    if (!IsDirectory(m_saveLocation)) {
        ShowNewDiscPrompt(
            this,
            {NewDiscPrompt::Notice, QStringLiteral("错误"),
             QStringLiteral("保存位置不存在：%1").arg(QString::fromStdString(m_saveLocation))});
        return;
    }
    if (DiscFileTaken(m_saveLocation, name)) {
        // A typed name of an existing index: warn and offer the next free name.
        ShowNewDiscPrompt(this, {NewDiscPrompt::Warning, QStringLiteral("警告"),
                                 QString::fromUtf8(kSameFileWarning)});
        m_nameEdit->setText(QString::fromStdString(NextFreeDiscName(m_saveLocation, name)));
        return;
    }

    ResetCollectBar(m_collectBar, false);
    m_saveBar->setValue(0);
    ShowDone(false);
    if (!m_session) m_session = new CScanSession;
    m_session->SetSink([this](uint32_t m, WPARAM w, LPARAM l) { return OnScanMessage(m, w, l); });
    const std::string path = DiscIndexPath(m_saveLocation, name);
    int started;
    {
        CScopedFolderDrive folderDrive(IsFolderMode() && !IsImageMode() ? &m_folder : nullptr);
        started = IsImageMode() ? m_session->scanner.StartScan(m_image, path)
                                : m_session->scanner.StartScan(root, path);
    }
    if (!started) {
        ShowNewDiscPrompt(this, {NewDiscPrompt::Notice, QStringLiteral("错误"),
                                 QString::fromStdString(m_session->scanner.LastError())});
        return;
    }
    m_session->finalPending = true;
    m_scanRoot = root;
    m_scanLocation = m_saveLocation;
    m_scanName = name;
    m_scanPath = path;
    m_scanRemarkFile.clear();
    if (m_textListRoot == root && m_textFiles->currentIndex() >= 0)
        m_scanRemarkFile = m_textFiles->currentText().toStdString();
    m_createButton->setEnabled(false);
    m_exitButton->setText(QStringLiteral("中止"));
    ShowUnreadable(ScanUnreadable{});
}

LRESULT CNewDiscDlg::OnScanMessage(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SCAN_STATUS:
            if (wParam == SCAN_COLLECTING) {
                // A folder is measured by the scanner against its whole file system,
                // which says nothing of how far the listing is: the bar only moves.
                ResetCollectBar(m_collectBar, IsFolderMode() && !IsImageMode());
                m_saveBar->setValue(0);
            } else if (wParam == SCAN_SAVING) {
                ResetCollectBar(m_collectBar, false);
                m_collectBar->setValue(100);
            } else if (wParam >= SCAN_DONE) {
                OnScanFinal(wParam);
            }
            break;
        case WM_SCAN_SIZE_PROGRESS: {
            const auto* p = reinterpret_cast<const ScanSizeProgress*>(lParam);
            if (m_collectBar->maximum() > 0)
                m_collectBar->setValue(ShownPercent(p->used, p->capacity));
            break;
        }
        case WM_SCAN_WRITE_PROGRESS: {
            const auto* p = reinterpret_cast<const ScanWriteProgress*>(lParam);
            m_saveBar->setValue(ShownPercent(static_cast<uint64_t>(std::max(p->written, 0)),
                                             static_cast<uint64_t>(std::max(p->total, 0))));
            break;
        }
        default:
            break;
    }
    return 0;
}

void CNewDiscDlg::OnScanFinal(WPARAM status) {
    if (status == SCAN_DONE) {
        // "创建" waits for the next drive choice that yields a name, or a typed name.
        m_createLocked = true;
        CompleteScan();
    } else {
        // Also after a stop: a listing that began after the stop was asked for left
        // the bar moving.
        ResetCollectBar(m_collectBar, false);
        m_saveBar->setValue(0);
    }
    if (status == SCAN_FAILED) {
        ShowLater(NewDiscPrompt::Notice, QStringLiteral("错误"),
                  QString::fromStdString(m_session->scanner.LastError()));
    }
    m_exitButton->setText(QStringLiteral("退出"));
    UpdateCreateButton();
    emit ScanFinished(static_cast<int>(status));
    if (m_closeWhenFinal) QTimer::singleShot(0, this, [this] { reject(); });
}

void CNewDiscDlg::ShowUnreadable(const ScanUnreadable& unreadable) {
    m_unreadLabel->setText(QString::fromStdString(UnreadableSummary(unreadable)));
    m_unreadDetails = QString::fromStdString(UnreadableDetails(unreadable));
    m_unreadLabel->setVisible(unreadable.Any());
    m_unreadButton->setVisible(unreadable.Any());
}

void CNewDiscDlg::ShowUnreadableDetails() {
    QDialog box(this);
    box.setWindowTitle(QStringLiteral("无法读取的目录和文件"));
    auto* list = new QPlainTextEdit(m_unreadDetails, &box);
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* close = new QPushButton(QStringLiteral("关闭"), &box);
    connect(close, &QPushButton::clicked, &box, &QDialog::accept);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(list);
    layout->addWidget(close, 0, Qt::AlignRight);
    box.resize(520, 300);
    box.exec();
}

void CNewDiscDlg::ShowDone(bool done) {
    if (done) {
        const IndexHeader& header = m_session->scanner.Header();
        m_doneLabel->setText(
            QString::fromStdString(ScanDoneText(header.fileCount, header.dirCount)));
    }
    m_doneLabel->setVisible(done);
    m_openButton->setVisible(done);
}

void CNewDiscDlg::OpenNewIndex() {
    if (ScanOutstanding() || m_scanPath.empty()) return;
    // The open-document path says itself when the file cannot be opened.
    if (m_shell.OpenDocumentFile(m_scanPath)) accept();
}

void CNewDiscDlg::CompleteScan() {
    ResetCollectBar(m_collectBar, false);
    m_collectBar->setValue(100);
    m_saveBar->setValue(100);
    // The index is made all the same; the user hears what it lacks.
    ShowUnreadable(m_session->scanner.Unreadable());
    ShowDone(true);

    if (m_tree) {
        QTreeWidgetItem* parent = m_tree->FindItemByPath(m_scanLocation);
        if (parent && m_tree->IsCategoryItem(parent)) {
            QTreeWidgetItem* item = nullptr;
            for (int i = 0; i < parent->childCount() && !item; ++i) {
                QTreeWidgetItem* c = parent->child(i);
                if (!m_tree->IsCategoryItem(c) && CLibraryTree::ItemLabel(c) == m_scanName)
                    item = c;
            }
            if (!item) {
                item = m_tree->InsertDiscItem(parent, m_scanName + ".orb");
                m_tree->SortChildItems(parent);
            }
            if (item) m_tree->scrollToItem(item);
        }
    }

    if (IsImageMode() && m_remarkCheck->isChecked() && m_image->Readme().found) {
        // Kept by the worker while it listed; it does not touch the image any more.
        const ReadmeCapture& readme = m_image->Readme();
        CIndexReader reader;
        if (reader.Open(m_scanPath, OpenMode::ReadWriteShareAll)) {
            reader.WriteRemark(MakeRemark(readme.bytes, readme.truncated));
            reader.Close();
        }
    } else if (m_remarkCheck->isChecked() && !m_scanRemarkFile.empty()) {
        const std::string source = JoinPath(m_scanRoot, m_scanRemarkFile);
        std::string raw, reason;
        if (ReadRemarkSource(source, raw, &reason)) {
            const std::string remark = MakeRemark(raw, raw.size() > kMaxRemarkBytes);
            CIndexReader reader;
            if (reader.Open(m_scanPath, OpenMode::ReadWriteShareAll)) {
                reader.WriteRemark(remark);
                reader.Close();
            }
        } else {
            ShowLater(NewDiscPrompt::Warning, QStringLiteral("提示"),
                      QStringLiteral("无法读取文本文件“%1”：%2\n光盘映象已经建立，但没有写入注释。")
                          .arg(QString::fromStdString(source), QString::fromStdString(reason)));
        }
    }

    if (!IsFolderMode() && m_ejectCheck->isChecked()) {
        // A tray takes a second or two to open: not on the window's thread.
        std::thread([root = m_scanRoot] { EjectDisc(root, true); }).detach();
    }
}

void CNewDiscDlg::ShowLater(int kind, const QString& caption, const QString& text) {
    // The worker waits in its final message until this returns; the box comes after.
    QTimer::singleShot(0, this, [this, kind, caption, text] {
        ShowNewDiscPrompt(this, {static_cast<NewDiscPrompt::Kind>(kind), caption, text});
    });
}

void CNewDiscDlg::reject() {
    if (IsScanning()) {
        m_session->scanner.SuspendScan();
        const bool stop = ShowNewDiscPrompt(this, {NewDiscPrompt::Question, QStringLiteral("提示"),
                                                   QString::fromUtf8(kStopQuestion)});
        m_session->scanner.ResumeScan();
        // The scan may have ended while the question was up.
        if (!stop || !ScanOutstanding()) return;
        m_session->scanner.AbortScan();
        m_exitButton->setText(QStringLiteral("退出"));
        ResetCollectBar(m_collectBar, false);
        m_saveBar->setValue(0);
        // "创建" comes back with the final status, which follows within one entry.
        UpdateCreateButton();
        return;
    }
    if (ScanOutstanding()) {
        // Stopped, but the worker has not sent its last message: close on it.
        m_closeWhenFinal = true;
        return;
    }
    m_refreshTimer->stop();
    QDialog::reject();
}

void CNewDiscDlg::OnDriveChange() {
    // A burst of changes gives one refresh, one second after the last.
    m_refreshTimer->start(kRefreshDelayMs);
}

void CNewDiscDlg::RefreshDrives() {
    m_refreshTimer->stop();
    if (IsFolderMode()) return;
    const bool wasSelected = m_selectedDrive >= 0 && m_drives->currentIndex() == m_selectedDrive;
    m_drives->FillDrives(DRIVE_KIND_CDROM);
    m_drives->setCurrentIndex(-1);
    if (m_selectedDrive < 0) {
        UpdateCreateButton();
        return;
    }
    if (m_selectedDrive >= m_drives->count()) {
        // The remembered drive is gone.
        m_chosenIdentity.clear();
        UpdateCreateButton();
        return;
    }
    if (DiscIdentity(m_selectedDrive) != m_chosenIdentity) {
        ChooseDrive(m_selectedDrive);
    } else {
        // The same disc: keep the name (perhaps typed) and the answers given.
        if (wasSelected) m_drives->setCurrentIndex(m_selectedDrive);
        UpdateCreateButton();
    }
}

}  // namespace orb
