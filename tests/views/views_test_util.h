// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the view tests: one application with a scratch settings store,
// and small disc indexes written with the project's index writer.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <string>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb::test {

// The application and a settings store in a scratch folder, never the user's own.
inline void EnsureViewsApp() {
    static int argc = 1;
    static char arg0[] = "test_views";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        static TempDir settingsDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(settingsDir.path()));
        return a;
    }();
    (void)app;
}

inline FILETIME Day(int64_t unixSeconds) {
    return UnixToFileTime(unixSeconds, 0);
}

// Writes a tree to path with the label and capacity; the tree's ids are filled in.
inline void WriteIndex(const std::string& path, CScanTree& tree, const std::string& label,
                       uint64_t capacity, std::string_view cover = {}) {
    IndexHeader h;
    SetHeaderLabel(h, HostToStored(label));
    h.capacity = capacity;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    IndexWriteOptions options;
    options.cover = cover;
    ASSERT_EQ(WriteIndexFile(path, h, tree, options), WriteResult::Ok);
}

// The disc most tests browse, labelled DATA:
//   setup\ (tools\ (a.exe), Tools\ (b.exe), readme.txt)
//   Docs\ (manual.pdf)
//   readme, .profile, a.txt (1,536 bytes), B.TXT, big.iso (5,000,000,000 bytes)
inline void WriteDataDisc(const std::string& path, uint64_t capacity = 681574400) {
    CScanTree t;
    const FILETIME day = Day(1057276800);  // 2003-07-04
    const ScanNodeId setup = t.Append(kNoNode, kEntryDirectory, 0, day, "setup");
    const ScanNodeId tools = t.Append(setup, kEntryDirectory, 0, day, "tools");
    t.Append(tools, 0, 100, day, "a.exe");
    const ScanNodeId tools2 = t.Append(setup, kEntryDirectory, 0, day, "Tools");
    t.Append(tools2, 0, 100, day, "b.exe");
    t.Append(setup, 0, 511, day, "readme.txt");
    const ScanNodeId docs = t.Append(kNoNode, kEntryDirectory, 0, Day(1000000000), "Docs");
    t.Append(docs, 0, 4096, day, "manual.pdf");
    t.Append(kNoNode, 0, 512, Day(1100000000), "readme");
    t.Append(kNoNode, 0, 10, Day(900000000), ".profile");
    t.Append(kNoNode, 0, 1536, day, "a.txt");
    t.Append(kNoNode, 0, 700u * 1024 * 1024, day, "B.TXT");
    t.Append(kNoNode, 0, 5000000000ULL, day, "big.iso");
    WriteIndex(path, t, "DATA", capacity);
}

}  // namespace orb::test
