// SPDX-License-Identifier: GPL-3.0-or-later
// Saving a listing from the window: choosing the file and writing it on a worker
// thread, so a disc of a million entries never stalls the window.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <ostream>

#include "audit/export.h"

class QWidget;

namespace orb {

// The format a file name asks for by its extension (.csv, .htm/.html, .json, any
// letter case); fallback for anything else.
ExportFormat ExportFormatForPath(const QString& path, ExportFormat fallback);

// Asks where to save; the format follows the extension, else the chosen filter.
// Empty when cancelled.
QString ChooseExportFile(QWidget* parent, const QString& caption, const QString& baseName,
                         ExportFormat& format);

// Writes into a temporary file beside path on a worker thread, then puts it in
// place; a busy dialog offers to cancel. write returns false when it did not
// finish. True when the file was written; a failure is shown in a message box.
bool RunExportToFile(QWidget* parent, const QString& path,
                     std::function<bool(std::ostream&, const std::atomic<bool>& stop)> write);

}  // namespace orb
