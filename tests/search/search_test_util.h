// SPDX-License-Identifier: GPL-3.0-or-later
// Building indexes and running searches for the search engine tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/scan_tree.h"

namespace orb::test {

// An index described by paths in walk order: "a/" is a directory, "a/b.txt" a
// file inside it. Returns the entry id of every path (88 for the first).
inline std::map<std::string, int32_t> BuildIndex(
    const std::string& file, const std::string& label, const std::vector<std::string>& paths,
    const std::map<std::string, std::string>& notes = {}) {
    CScanTree tree;
    std::map<std::string, ScanNodeId> nodes;
    for (const std::string& p : paths) {
        bool dir = !p.empty() && p.back() == '/';
        std::string full = dir ? p.substr(0, p.size() - 1) : p;
        size_t slash = full.rfind('/');
        ScanNodeId parent = slash == std::string::npos ? kNoNode : nodes.at(full.substr(0, slash));
        std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
        nodes[full] =
            tree.Append(parent, dir ? kEntryDirectory : 0, 1000 + nodes.size(), FILETIME{}, name);
    }
    IndexHeader h;
    SetHeaderLabel(h, label);
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    if (WriteIndexFile(file, h, tree) != WriteResult::Ok) return {};
    std::map<std::string, int32_t> ids;
    for (const auto& [path, node] : nodes) {
        int32_t off = tree.Node(node).item.recordOffset;
        ids[path] = off == static_cast<int32_t>(kFirstEntryOffset) ? kFirstEntryId : off;
    }
    if (!notes.empty()) {
        CIndexReader r;
        if (r.Open(file, OpenMode::ReadWriteShareAll)) {
            for (const auto& [path, text] : notes) r.SetAnnotation(ids.at(path), text);
            r.Close();
        }
    }
    return ids;
}

struct SearchEvent {
    WPARAM code = 0;
    LPARAM value = 0;
    bool posted = false;
    std::string parent;  // SEARCH_FOUND: parent path + name, and the annotation
    std::string name;
    std::string annotation;
    std::string indexPath;
};

// Records every WM_SEARCH_EVENT; an optional hook runs inside each Send, on the
// worker, as a window's handler would.
class RecordingTarget : public IMessageTarget {
public:
    std::function<void(const SearchEvent&)> hook;

    LRESULT Send(uint32_t msg, WPARAM wParam, LPARAM lParam) override {
        SearchEvent e{wParam, lParam, false, {}, {}, {}, {}};
        if (msg == WM_SEARCH_EVENT && wParam == SEARCH_FOUND) {
            const auto* r = reinterpret_cast<const SearchResult*>(lParam);
            e.parent = r->parentPath;
            e.name = std::string(r->entry.Name());
            e.annotation = r->annotation;
            e.indexPath = r->indexPath;
            e.value = 0;
        }
        Add(e);
        if (hook) hook(e);
        return 0;
    }
    void Post(uint32_t, WPARAM wParam, LPARAM lParam) override {
        Add(SearchEvent{wParam, lParam, true, {}, {}, {}, {}});
    }
    // Waits for SEARCH_FINISHED; false on timeout.
    bool WaitFinished(int ms = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] {
            for (const SearchEvent& e : events_)
                if (e.code == SEARCH_FINISHED) return true;
            return false;
        });
    }
    std::vector<SearchEvent> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<std::string> Hits() {
        std::vector<std::string> out;
        for (const SearchEvent& e : Events())
            if (e.code == SEARCH_FOUND) out.push_back(e.parent + e.name);
        return out;
    }
    std::vector<LPARAM> Progress() {
        std::vector<LPARAM> out;
        for (const SearchEvent& e : Events())
            if (e.code == SEARCH_PROGRESS) out.push_back(e.value);
        return out;
    }

private:
    void Add(const SearchEvent& e) {
        // Notified under the lock: a waiter that sees the last event may destroy
        // this target at once, and must not find the worker still notifying.
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<SearchEvent> events_;
};

}  // namespace orb::test
