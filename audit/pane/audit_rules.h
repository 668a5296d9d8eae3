// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the library tool dialogs, as plain functions the dialogs call.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "audit/verify.h"

namespace orb {

// Whether a result row shows: kindFilter is -1 for every kind, else a VerifyKind;
// problemsOnly hides identical entries.
bool VerifyRowShown(VerifyKind kind, int kindFilter, bool problemsOnly);

// "12.3 MB / 650.0 MB，剩余约 1:05" (no estimate yet: "剩余时间未知").
QString VerifyProgressText(uint64_t doneBytes, uint64_t totalBytes, int64_t secondsLeft);

// The saved report: what was compared, a count per kind, then one line per entry
// that is not identical.
std::string VerifyReportText(const std::string& indexPath, const std::string& discRoot,
                             const VerifySummary& summary, const std::vector<VerifyItem>& items);

// The minimum size box of the duplicates dialog is in megabytes.
uint64_t MegabytesToBytes(int megabytes);

}  // namespace orb
