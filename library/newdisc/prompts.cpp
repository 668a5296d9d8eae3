// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes of the new disc image dialog.
#include "library/newdisc/prompts.h"

#include <QMessageBox>
#include <QPushButton>

namespace orb {

namespace {
NewDiscPromptHandler& Handler() {
    static NewDiscPromptHandler handler;
    return handler;
}
}  // namespace

void SetNewDiscPromptHandler(NewDiscPromptHandler handler) {
    Handler() = std::move(handler);
}

bool ShowNewDiscPrompt(QWidget* parent, const NewDiscPrompt& prompt) {
    if (Handler()) return Handler()(parent, prompt);
    if (prompt.kind == NewDiscPrompt::Question) {
        QMessageBox box(QMessageBox::Question, prompt.caption, prompt.text,
                        QMessageBox::Ok | QMessageBox::Cancel, parent);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
        return box.exec() == QMessageBox::Ok;
    }
    QMessageBox box(QMessageBox::Warning, prompt.caption, prompt.text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
    return true;
}

}  // namespace orb
