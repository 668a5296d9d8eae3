// SPDX-License-Identifier: GPL-3.0-or-later
// The About box: version, build, links and credits.
#include "app/dialogs/about_dlg.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include "platform/error_text.h"
#include "res/images/toolbar_icons.h"

namespace orb {

static const char* const kCredits =
    "Kelvane光盘助手的诞生离不开许多人的帮助：\n"
    "感谢所有试用早期版本并报告问题的朋友，\n"
    "感谢为光盘库、收藏夹和搜索功能提出建议的用户，\n"
    "感谢 Qt 项目与 Debian 社区提供的优秀工具。\n"
    "界面图标与程序图标均为本软件原创绘制。";

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    setWindowTitle(QStringLiteral("关于 Kelvane光盘助手"));
    auto* grid = new QGridLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(MakeToolIcon(ToolIcon::AppIcon).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Kelvane光盘助手 3.0 版"), this), 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Build: 20040519"), this), 1, 1, 1, 2);
    auto* slogan = new QLabel(
        QStringLiteral("<a href=\"%1\">Kelvane软件：因为努力，所以美丽！</a>").arg(kWebAddress),
        this);
    slogan->setObjectName(QStringLiteral("1026"));
    connect(slogan, &QLabel::linkActivated, this, &CAboutDlg::OpenLink);
    grid->addWidget(slogan, 2, 1, 1, 2);
    auto* mailRow = new QHBoxLayout;
    mailRow->addWidget(new QLabel(QStringLiteral("作者信箱："), this));
    auto* mail = new QLabel(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(kMailAddress), this);
    mail->setObjectName(QStringLiteral("1027"));
    connect(mail, &QLabel::linkActivated, this, &CAboutDlg::OpenLink);
    mailRow->addWidget(mail);
    mailRow->addStretch(1);
    grid->addLayout(mailRow, 3, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("感谢:"), this), 4, 1, 1, 2);
    auto* credits = new QPlainTextEdit(this);
    credits->setObjectName(QStringLiteral("1025"));
    credits->setAccessibleName(QStringLiteral("感谢"));
    credits->setReadOnly(true);
    credits->setPlainText(QString::fromUtf8(kCredits));
    credits->setMinimumSize(340, 110);
    grid->addWidget(credits, 5, 1, 1, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    // The licence the program is given under, in the user's own language.
    auto* licence = new QLabel(
        QStringLiteral("本程序是自由软件，按 GNU 通用公共许可证第 3 版或（由您选择）任何更高版本"
                       "（GPL-3.0-or-later）的条款发布，不提供任何担保。详见"
                       "<a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">许可证全文</a>。"),
        this);
    licence->setObjectName(QStringLiteral("licence"));
    licence->setWordWrap(true);
    connect(licence, &QLabel::linkActivated, this, &CAboutDlg::OpenLink);
    grid->addWidget(licence, 6, 1, 1, 2);
    grid->addWidget(buttons, 7, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void CAboutDlg::OpenLink(const QString& link) {
    if (!openUrl(QUrl(link)))
        QMessageBox::warning(this, QStringLiteral("提示"),
                             QString::fromStdString(NoOpenerText(link.toStdString())));
}

}  // namespace orb
