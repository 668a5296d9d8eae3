// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/pane/audit_rules.h"

#include "audit/export.h"

namespace orb {

bool VerifyRowShown(VerifyKind kind, int kindFilter, bool problemsOnly) {
    if (problemsOnly && kind == VerifyKind::Identical) return false;
    return kindFilter < 0 || kindFilter == static_cast<int>(kind);
}

QString VerifyProgressText(uint64_t doneBytes, uint64_t totalBytes, int64_t secondsLeft) {
    auto mb = [](uint64_t b) { return QString::number(static_cast<double>(b) / 1e6, 'f', 1); };
    QString text = QStringLiteral("%1 MB / %2 MB，").arg(mb(doneBytes), mb(totalBytes));
    if (secondsLeft < 0) return text + QStringLiteral("剩余时间未知");
    return text + QStringLiteral("剩余约 %1:%2")
                      .arg(secondsLeft / 60)
                      .arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
}

std::string VerifyReportText(const std::string& indexPath, const std::string& discRoot,
                             const VerifySummary& summary, const std::vector<VerifyItem>& items) {
    std::string out = "index: " + indexPath + "\ndisc: " + discRoot + "\n";
    if (summary.stopped) out += "stopped before the end\n";
    for (int k = 0; k < kVerifyKindCount; ++k)
        out += std::string(VerifyKindWord(static_cast<VerifyKind>(k))) + ": " +
               std::to_string(summary.counts[k]) + "\n";
    out += "\n";
    for (const VerifyItem& item : items)
        if (item.kind != VerifyKind::Identical) out += VerifyItemLine(item) + "\n";
    return out;
}

uint64_t MegabytesToBytes(int megabytes) {
    return megabytes <= 0 ? 1 : static_cast<uint64_t>(megabytes) * 1000000u;
}

}  // namespace orb
