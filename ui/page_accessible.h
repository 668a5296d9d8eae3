// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is told about the toolkit's page strips: the panel bar's title
// buttons and the page tab control's tabs are page tabs, the open one checked and
// selected, and a "press" opens a page as a click does.
#pragma once

class QAccessibleInterface;
class QWidget;

namespace orb {

// Registers the strips' accessible interfaces with Qt; safe to call many times.
void InstallPageAccessible();
// Tells listening screen readers that the open page of `strip` (a panel bar or a
// page tab control's tab bar) went from `before` to `after`.
void NotifyPageSelection(QWidget* strip, int before, int after);

}  // namespace orb
