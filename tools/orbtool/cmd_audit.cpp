// SPDX-License-Identifier: GPL-3.0-or-later
// orbtool verify, dupes and ls --recursive: the library tools on the command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "audit/disc_source.h"
#include "audit/duplicates.h"
#include "audit/export.h"
#include "audit/verify.h"
#include "image/verify_source.h"
#include "library/store/library_store.h"
#include "platform/text.h"
#include "tools/orbtool/commands.h"
#include "tools/orbtool/output.h"

namespace orbtool {

namespace {

using namespace orb;

std::atomic<bool> g_stop{false};
void OnInterrupt(int) {
    g_stop = true;
}

// Ctrl-C raises the stop flag for as long as the object lives.
class InterruptScope {
public:
    InterruptScope() {
        struct sigaction sa {};
        sa.sa_handler = OnInterrupt;
        sigaction(SIGINT, &sa, &old_);
    }
    ~InterruptScope() { sigaction(SIGINT, &old_, nullptr); }

private:
    struct sigaction old_ {};
};

int Usage(const char* text) {
    std::fprintf(stderr, "usage: orbtool %s\n", text);
    return kExitUsage;
}

bool ParseBytes(const std::string& v, uint64_t& out) {
    auto r = std::from_chars(v.data(), v.data() + v.size(), out);
    return !v.empty() && r.ec == std::errc() && r.ptr == v.data() + v.size();
}

std::string Megabytes(uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return buf;
}

class VerifyPrinter : public IVerifyListener {
public:
    VerifyPrinter(bool json, bool all, bool bar) : json_(json), all_(all), bar_(bar) {
        start_ = std::chrono::steady_clock::now();
    }
    void OnItem(const VerifyItem& item) override {
        if (item.kind == VerifyKind::Identical && !all_) return;
        ClearBar();
        if (json_)
            std::printf("%s%s", first_ ? "" : ",", VerifyItemJson(item).c_str());
        else
            std::printf("%s\n", VerifyItemLine(item).c_str());
        first_ = false;
    }
    void OnProgress(const VerifyProgress& p) override {
        if (!bar_) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const int64_t left = EstimateSecondsLeft(p.doneBytes, p.totalBytes, elapsed);
        std::string eta = left < 0 ? "--:--"
                                   : std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") +
                                         std::to_string(left % 60);
        std::fprintf(stderr, "\r%s / %s, %s left   ", Megabytes(p.doneBytes).c_str(),
                     Megabytes(p.totalBytes).c_str(), eta.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void ClearBar() {
        if (!shown_) return;
        std::fprintf(stderr, "\r%60s\r", "");
        shown_ = false;
    }

private:
    bool json_, all_, bar_;
    bool first_ = true;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

int RunVerify(int argc, char** argv) {
    const char* usage = "verify INDEX.orb [FOLDER|IMAGE] [--full] [--json] [--all]";
    std::vector<std::string> positional;
    bool full = false, json = false, all = false;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--full")
            full = true;
        else if (s == "--json")
            json = true;
        else if (s == "--all")
            all = true;
        else if (s.size() > 1 && s[0] == '-')
            return Usage(usage);
        else
            positional.push_back(s);
    }
    if (positional.empty() || positional.size() > 2) return Usage(usage);
    CIndexReader reader;
    if (!reader.Open(positional[0], OpenMode::ReadShareAll)) {
        std::fprintf(stderr, "orbtool: %s: %s\n", positional[0].c_str(),
                     reader.LastError().c_str());
        return kExitFailed;
    }
    std::string where = positional.size() > 1 ? positional[1] : FindDriveHoldingDisc(reader);
    if (where.empty()) {
        std::fprintf(stderr, "orbtool: no drive holds the disc of %s\n", positional[0].c_str());
        return kExitFailed;
    }
    std::string error;
    RegisterImageVerifySource();
    std::unique_ptr<IVerifySource> source = OpenDiscSource(where, error);
    if (!source) {
        std::fprintf(stderr, "orbtool: %s\n", error.c_str());
        return kExitFailed;
    }
    VerifyOptions options;
    options.full = full;
    VerifyPrinter printer(json, all, ::isatty(STDERR_FILENO) == 1);
    if (json) std::printf("{\"items\":[");
    VerifySummary s;
    {
        InterruptScope interrupt;
        s = VerifyDisc(reader, *source, options, printer, &g_stop);
    }
    printer.ClearBar();
    if (json) {
        std::printf("],\"summary\":{");
        for (int k = 0; k < kVerifyKindCount; ++k)
            std::printf("%s\"%s\":%" PRIu64, k ? "," : "",
                        VerifyKindWord(static_cast<VerifyKind>(k)), s.counts[k]);
        std::printf("},\"stopped\":%s}\n", s.stopped ? "true" : "false");
    } else {
        std::fprintf(stderr, "%s", s.stopped ? "stopped; " : "");
        for (int k = 0; k < kVerifyKindCount; ++k)
            std::fprintf(stderr, "%s%s %" PRIu64, k ? ", " : "",
                         VerifyKindWord(static_cast<VerifyKind>(k)), s.counts[k]);
        std::fputc('\n', stderr);
    }
    return s.AllIdentical() ? kExitOk : kExitFailed;
}

int RunDupes(int argc, char** argv) {
    const char* usage = "dupes LIBRARY|INDEX... [--min-size BYTES] [--size-only] [--json]";
    std::vector<std::string> targets;
    DupeOptions options;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--json") {
            json = true;
        } else if (s == "--size-only") {
            options.sizeOnly = true;
        } else if (s == "--min-size" && i + 1 < argc) {
            if (!ParseBytes(argv[++i], options.minSize)) return Usage(usage);
        } else if (s.size() > 1 && s[0] == '-') {
            return Usage(usage);
        } else {
            targets.push_back(s);
        }
    }
    if (targets.empty()) return Usage(usage);
    std::vector<std::string> paths;
    for (const std::string& t : targets) {
        struct stat st {};
        if (::stat(t.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            for (std::string& p : LibraryDiscPaths(t)) paths.push_back(std::move(p));
        } else {
            paths.push_back(t);
        }
    }
    DupeResult r;
    {
        InterruptScope interrupt;
        r = FindDuplicates(paths, options, {}, &g_stop);
    }
    for (const std::string& f : r.failed)
        std::fprintf(stderr, "orbtool: %s: cannot be read, left out\n", f.c_str());
    if (json) {
        ExportDuplicates(std::cout, ExportFormat::Json, r);
    } else {
        for (const DupeGroup& g : r.groups) {
            std::printf("%" PRIu64 " bytes x %zu, %" PRIu64 " wasted: %s\n", g.size,
                        g.copies.size(), g.Wasted(), ExportName(g.copies.front().name).c_str());
            for (const DupeCopy& c : g.copies)
                std::printf("\t%s%s\t%s\t%s\n", ExportPath(c.dirPath).c_str(),
                            ExportName(c.name).c_str(), UtcTime(c.writeTime).c_str(),
                            r.discs[c.disc].indexPath.c_str());
        }
    }
    std::cout.flush();
    if (r.stopped) return kExitFailed;
    return kExitOk;
}

int RunLsRecursive(int argc, char** argv) {
    const char* usage = "ls INDEX.orb --recursive [--csv|--html|--json]";
    std::string index;
    int formats = 0;
    ExportFormat format = ExportFormat::Csv;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--recursive") continue;
        if (s == "--csv" || s == "--html" || s == "--json") {
            format = s == "--csv"    ? ExportFormat::Csv
                     : s == "--html" ? ExportFormat::Html
                                     : ExportFormat::Json;
            ++formats;
        } else if ((s.size() > 1 && s[0] == '-') || !index.empty()) {
            return Usage(usage);
        } else {
            index = s;
        }
    }
    if (index.empty() || formats != 1) return Usage(usage);
    CIndexReader reader;
    if (!reader.Open(index, OpenMode::ReadShareAll)) {
        std::fprintf(stderr, "orbtool: %s: %s\n", index.c_str(), reader.LastError().c_str());
        return kExitFailed;
    }
    const bool complete = ExportListing(reader, format, std::cout);
    std::cout.flush();
    if (!complete) {
        std::fprintf(stderr, "orbtool: %s: the index ends early or is damaged\n", index.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace orbtool
