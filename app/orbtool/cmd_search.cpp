// orbtool search: the search engine over library directories and index files,
// disc after disc in library order, hits printed as they arrive.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/orbtool/commands.h"
#include "app/orbtool/output.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/disc_search.h"

namespace orbtool {

namespace {

constexpr const char* kUsage =
    "usage: orbtool search TARGET... --keyword TEXT [--files] [--dirs] [--notes] [--case]\n"
    "                      [--whole] [--types FILTER] [--json]\n"
    "  TARGET is a library directory (every disc, in library order) or an index file.\n"
    "  Without --files, --dirs or --notes all three are searched.\n";

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "orbtool search: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

class CPrintingSink : public orb::IDiscSearchSink {
public:
    CPrintingSink(bool json, bool showProgress, size_t discCount)
        : json_(json), progress_(showProgress), discCount_(discCount) {}

    void OnDiscStarted(size_t discIndex, const std::string& indexPath) override {
        disc_ = discIndex;
        name_ = indexPath.substr(indexPath.rfind('/') + 1);
        percent_ = -1;
        OnProgress(0);
    }

    void OnDiscFailed(size_t, const std::string& indexPath, const std::string& error) override {
        ClearProgress();
        std::fprintf(stderr, "orbtool search: %s: %s\n", indexPath.c_str(),
                     error.empty() ? "not searched" : error.c_str());
    }

    void OnHit(const orb::SearchResult& hit) override {
        ClearProgress();
        if (!json_) {
            std::printf("%s%s\t%s\n", TerminalText(hit.fullParentPath).c_str(),
                        TerminalText(hit.entry.Name()).c_str(), hit.fullIndexPath.c_str());
        } else {
            std::string parent = orb::StoredToHost(hit.fullParentPath);
            std::string name = orb::StoredToHost(hit.entry.Name());
            std::string line = "{\"parent\":";
            line += JsonString(parent);
            line += ",\"name\":";
            line += JsonString(name);
            line += ",\"index\":";
            line += JsonString(hit.fullIndexPath);
            line += ",\"annotation\":";
            line += JsonString(orb::StoredToHost(hit.annotation));
            line += ",\"kind\":";
            line += hit.entry.IsDirectory() ? "\"dir\"" : "\"file\"";
            line += ",\"size\":" + std::to_string(hit.entry.Size());
            line += ",\"time\":";
            line += JsonString(UtcTime(hit.entry.writeTime));
            line += "}\n";
            std::fputs(line.c_str(), stdout);
        }
        percent_ = -1;  // redraw the progress line
    }

    void OnProgress(int percent) override {
        if (!progress_ || percent == percent_) return;
        percent_ = percent;
        std::fprintf(stderr, "\r[%zu/%zu] %3d%% %s\033[K", disc_ + 1, discCount_, percent,
                     name_.c_str());
        shown_ = true;
    }

    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

private:
    bool json_;
    bool progress_;
    size_t discCount_;
    size_t disc_ = 0;
    std::string name_;
    int percent_ = -1;
    bool shown_ = false;
};

}  // namespace

int RunSearch(int argc, char** argv) {
    std::vector<std::string> targets;
    orb::DiscSearchOptions options;
    bool haveKeyword = false;
    bool json = false;
    uint8_t parts = 0;
    uint8_t modifiers = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (std::strcmp(a, "--keyword") == 0) {
            const char* v = value();
            if (!v) return Usage("--keyword needs a text");
            options.keyword = orb::HostToStored(v);
            haveKeyword = true;
        } else if (std::strcmp(a, "--types") == 0) {
            const char* v = value();
            if (!v) return Usage("--types needs a filter");
            options.typeFilter = orb::HostToStored(v);
        } else if (std::strcmp(a, "--files") == 0) {
            parts |= orb::SF_FILES;
        } else if (std::strcmp(a, "--dirs") == 0) {
            parts |= orb::SF_DIRECTORIES;
        } else if (std::strcmp(a, "--notes") == 0) {
            parts |= orb::SF_ANNOTATIONS;
        } else if (std::strcmp(a, "--case") == 0) {
            modifiers |= orb::SF_MATCHCASE;
        } else if (std::strcmp(a, "--whole") == 0) {
            modifiers |= orb::SF_WHOLENAME;
        } else if (std::strcmp(a, "--json") == 0) {
            json = true;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a[0] == '-' && a[1] == '-') {
            std::string problem = std::string("unknown option ") + a;
            return Usage(problem.c_str());
        } else {
            targets.push_back(a);
        }
    }
    if (targets.empty()) return Usage("no TARGET given");
    if (!haveKeyword) return Usage("--keyword is required");
    // The search pane refuses an empty keyword too; it would match everything.
    if (options.keyword.empty()) return Usage("没有指定查找关键词");
    if (parts == 0) parts = orb::SF_FILES | orb::SF_DIRECTORIES | orb::SF_ANNOTATIONS;
    options.flags = parts | modifiers;

    std::vector<std::string> indexPaths;
    bool anyLibrary = false;
    for (const orb::SearchTarget& t : orb::ExpandSearchTargets(targets)) {
        if (t.isLibrary && !t.listed)
            std::fprintf(stderr, "orbtool search: %s: cannot read the directory\n", t.path.c_str());
        anyLibrary = anyLibrary || t.listed;
        indexPaths.insert(indexPaths.end(), t.indexPaths.begin(), t.indexPaths.end());
    }

    // Hits stream out line by line, also into a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    CPrintingSink sink(json, ::isatty(STDERR_FILENO) != 0, indexPaths.size());
    orb::DiscSearchSummary summary = orb::SearchDiscs(indexPaths, options, sink);
    sink.ClearProgress();

    if (json)
        std::printf("{\"hits\":%" PRIu64 ",\"discs\":%zu,\"skipped\":%zu}\n", summary.hits,
                    summary.discsSearched, summary.discsFailed);
    else
        std::printf("%" PRIu64 "个结果被找到\n", summary.hits);
    if (summary.discsSearched == 0 && !anyLibrary) return kExitFailed;
    return kExitOk;
}

}  // namespace orbtool
