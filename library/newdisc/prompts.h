// SPDX-License-Identifier: GPL-3.0-or-later
// The message boxes of the new disc image dialog, behind one function so tests can
// answer them.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace orb {

struct NewDiscPrompt {
    enum Kind { Notice, Warning, Question };
    Kind kind = Notice;  // Notice and Warning show the exclamation icon and OK
    QString caption;
    QString text;
};

// Returns true for OK. Tests install their own handler; an empty one brings the
// message boxes back.
using NewDiscPromptHandler = std::function<bool(QWidget* parent, const NewDiscPrompt& prompt)>;
void SetNewDiscPromptHandler(NewDiscPromptHandler handler);
bool ShowNewDiscPrompt(QWidget* parent, const NewDiscPrompt& prompt);

}  // namespace orb
