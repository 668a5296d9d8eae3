// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/ui/export_file.h"

#include <unistd.h>

#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/files.h"

namespace orb {

ExportFormat ExportFormatForPath(const QString& path, ExportFormat fallback) {
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".csv"))) return ExportFormat::Csv;
    if (lower.endsWith(QLatin1String(".html")) || lower.endsWith(QLatin1String(".htm")))
        return ExportFormat::Html;
    if (lower.endsWith(QLatin1String(".json"))) return ExportFormat::Json;
    return fallback;
}

QString ChooseExportFile(QWidget* parent, const QString& caption, const QString& baseName,
                         ExportFormat& format) {
    const QString csv = QStringLiteral("CSV 表格 (*.csv)");
    const QString html = QStringLiteral("网页 (*.html *.htm)");
    const QString json = QStringLiteral("JSON (*.json)");
    QString filter = csv;
    QString path = QFileDialog::getSaveFileName(
        parent, caption, baseName + QStringLiteral(".csv"),
        csv + QStringLiteral(";;") + html + QStringLiteral(";;") + json, &filter);
    if (path.isEmpty()) return path;
    const ExportFormat chosen = filter == html   ? ExportFormat::Html
                                : filter == json ? ExportFormat::Json
                                                 : ExportFormat::Csv;
    format = ExportFormatForPath(path, chosen);
    return path;
}

bool RunExportToFile(QWidget* parent, const QString& path,
                     std::function<bool(std::ostream&, const std::atomic<bool>&)> write) {
    struct Job {
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        bool ok = false;
    };
    auto job = std::make_shared<Job>();
    const std::string target = path.toStdString();
    const std::string temp = target + "." + std::to_string(::getpid()) + ".tmp";
    std::thread worker([job, temp, write = std::move(write)] {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        bool ok = out && write(out, job->stop);
        out.flush();
        ok = ok && out.good();
        out.close();
        job->ok = ok && !out.fail();
        job->done = true;
    });
    QProgressDialog busy(QStringLiteral("正在导出..."), QStringLiteral("取消"), 0, 0, parent);
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(400);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (job->done) loop.quit();
    });
    QObject::connect(&busy, &QProgressDialog::canceled, &loop, [&] { job->stop = true; });
    poll.start(30);
    if (!job->done) loop.exec();
    // The worker has set done: joining waits for nothing more than its return.
    worker.join();
    busy.reset();
    const bool cancelled = job->stop.load();
    if (!job->ok || cancelled || !RenameOver(temp, target, true)) {
        ::unlink(temp.c_str());
        if (!cancelled)
            QMessageBox::critical(parent, QStringLiteral("提示"),
                                  QStringLiteral("导出失败: %1").arg(path));
        return false;
    }
    return true;
}

}  // namespace orb
