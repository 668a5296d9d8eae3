// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the application tests: a private settings and data home, an
// application object, and small index files.
#pragma once

#include <stdlib.h>

#include <QApplication>
#include <string>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb::test {

// Points the settings store, data and desktop folders at a scratch home before Qt
// reads them, so tests never touch the user's own settings.
inline const std::string& PrivateHome() {
    static const std::string home = [] {
        char tmpl[] = "/tmp/orbapp-XXXXXX";
        const char* dir = ::mkdtemp(tmpl);
        std::string h = dir ? dir : "/tmp";
        ::setenv("HOME", h.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (h + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (h + "/data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (h + "/sysdata").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (h + "/cache").c_str(), 1);
        return h;
    }();
    return home;
}

inline QApplication& EnsureApp() {
    PrivateHome();
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Writes an index with one directory "setup" holding "a.txt" and a file "readme".
inline void WriteSmallIndex(const std::string& path, const std::string& hostLabel,
                            uint64_t capacity) {
    CScanTree tree;
    FILETIME t{};
    const ScanNodeId dir = tree.Append(kNoNode, kEntryDirectory, 0, t, "setup");
    tree.Append(dir, 0, 10, t, "a.txt");
    tree.Append(kNoNode, 0, 20, t, "readme");
    IndexHeader h;
    SetHeaderLabel(h, HostToStored(hostLabel));
    h.capacity = capacity;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    WriteIndexFile(path, h, tree);
}

}  // namespace orb::test
