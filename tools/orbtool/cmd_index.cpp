// SPDX-License-Identifier: GPL-3.0-or-later
// orbtool info, ls, remark, cover, note: reading and changing one index through
// the index reader's operations.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "platform/text.h"
#include "tools/orbtool/commands.h"
#include "tools/orbtool/output.h"

namespace orbtool {

namespace {

using namespace orb;

// Arguments without the flags this command knows; --json is noted.
struct Args {
    std::vector<std::string> positional;
    bool json = false;
    bool bad = false;
    std::vector<std::pair<std::string, std::string>> options;  // --name value
};

Args ParseArgs(int argc, char** argv, std::vector<std::string> valueOptions, bool allowJson) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--json" && allowJson) {
            a.json = true;
        } else if (s == "--") {
            for (++i; i < argc; ++i) a.positional.push_back(argv[i]);
        } else if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
            bool known = false;
            for (const std::string& o : valueOptions) known = known || o == s;
            if (!known || i + 1 >= argc) {
                a.bad = true;
                return a;
            }
            a.options.emplace_back(s, argv[++i]);
        } else {
            a.positional.push_back(s);
        }
    }
    return a;
}

int Usage(const char* text) {
    std::fprintf(stderr, "usage: orbtool %s\n", text);
    return kExitUsage;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "orbtool: %s\n", what.c_str());
    return kExitFailed;
}

bool OpenIndex(CIndexReader& r, const std::string& path, OpenMode mode) {
    if (r.Open(path, mode)) return true;
    std::fprintf(stderr, "orbtool: %s: %s\n", path.c_str(), r.LastError().c_str());
    return false;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

bool ParseId(const std::string& s, int32_t& id) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    id = static_cast<int32_t>(v);
    return true;
}

// Finds the directory named by a path like "setup\tools\" or "setup/tools"; an
// empty path is the root (found with dir unset). Components match byte for byte,
// else with A-Z folded as on Windows.
bool FindDirectory(CIndexReader& r, const std::string& path, IndexEntry& dir, bool& isRoot) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!cur.empty()) parts.push_back(HostToStored(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(HostToStored(cur));
    isRoot = parts.empty();
    const IndexEntry* parent = nullptr;
    IndexEntry found;
    for (const std::string& part : parts) {
        IndexEntry e, folded;
        bool exact = false, nocase = false;
        if (r.ReadFirstEntry(parent, e)) {
            do {
                if (!e.IsDirectory()) continue;
                if (e.Name() == part) {
                    exact = true;
                    break;
                }
                if (!nocase && EqualsNoCaseAZ(e.Name(), part)) {
                    nocase = true;
                    folded = e;
                }
            } while (r.ReadNextEntry(e, e));
        }
        if (exact)
            found = e;
        else if (nocase)
            found = folded;
        else
            return false;
        dir = found;
        parent = &dir;
    }
    return true;
}

// Calls f(id, entry) for every entry of the index (depth first); stops when f
// returns false. The walk is bounded by the records the file could hold.
template <typename F>
bool WalkAll(CIndexReader& r, const IndexEntry* parent, uint64_t& budget, F& f) {
    IndexEntry e;
    if (!r.ReadFirstEntry(parent, e)) return true;
    int32_t id = parent ? parent->firstChild : kFirstEntryId;
    do {
        if (budget-- == 0) return false;
        if (!f(id, e)) return false;
        if (e.IsDirectory()) {
            IndexEntry copy = e;
            if (!WalkAll(r, &copy, budget, f)) return false;
        }
        id = e.nextSibling;
    } while (r.ReadNextEntry(e, e));
    return true;
}

}  // namespace

int RunInfo(int argc, char** argv) {
    Args a = ParseArgs(argc, argv, {}, true);
    if (a.bad || a.positional.size() != 1) return Usage("info INDEX.orb [--json]");
    CIndexReader r;
    if (!OpenIndex(r, a.positional[0], OpenMode::ReadShareAll)) return kExitFailed;
    const IndexHeader& h = r.Header();
    std::string label;
    r.GetVolumeLabel(label);
    if (a.json) {
        std::printf(
            "{\"label\":%s,\"capacity\":%" PRIu64
            ",\"files\":%u,\"directories\":%u,"
            "\"remark\":{\"offset\":%u,\"length\":%u},\"cover\":{\"offset\":%u,\"size\":%u},"
            "\"annotations\":%zu}\n",
            JsonString(StoredToHost(label)).c_str(), h.capacity, h.fileCount, h.dirCount,
            h.remarkOffset, h.remarkLength, h.coverOffset, h.coverSize, r.Annotations().size());
    } else {
        std::printf("label:        %s\n", TerminalText(label).c_str());
        std::printf("capacity:     %" PRIu64 "\n", h.capacity);
        std::printf("files:        %u\n", h.fileCount);
        std::printf("directories:  %u\n", h.dirCount);
        std::printf("remark:       offset %u, length %u\n", h.remarkOffset, h.remarkLength);
        std::printf("cover:        offset %u, size %u\n", h.coverOffset, h.coverSize);
        std::printf("annotations:  %zu\n", r.Annotations().size());
    }
    return kExitOk;
}

int RunLs(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--recursive") == 0) return RunLsRecursive(argc, argv);
    Args a = ParseArgs(argc, argv, {}, true);
    if (a.bad || a.positional.empty() || a.positional.size() > 2)
        return Usage("ls INDEX.orb [DIR] [--json]");
    CIndexReader r;
    if (!OpenIndex(r, a.positional[0], OpenMode::ReadShareAll)) return kExitFailed;
    const std::string dirPath = a.positional.size() > 1 ? a.positional[1] : "";
    IndexEntry dir;
    bool isRoot = true;
    if (!FindDirectory(r, dirPath, dir, isRoot)) return Fail("no such directory: " + dirPath);

    IndexEntry e;
    bool any = r.ReadFirstEntry(isRoot ? nullptr : &dir, e);
    int32_t id = isRoot ? kFirstEntryId : dir.firstChild;
    uint64_t budget = r.MaxEntryCount();
    bool first = true;
    if (a.json) std::printf("{\"entries\":[");
    while (any && budget-- > 0) {
        const std::string name = std::string(e.Name());
        const char* kind = e.IsDirectory() ? "dir" : "file";
        if (a.json) {
            std::printf("%s{\"id\":%d,\"kind\":\"%s\",\"size\":%" PRIu64
                        ",\"time\":\"%s\",\"name\":%s}",
                        first ? "" : ",", id, kind, e.Size(), UtcTime(e.writeTime).c_str(),
                        JsonString(StoredToHost(name)).c_str());
        } else {
            std::printf("%d\t%s\t%" PRIu64 "\t%s\t%s\n", id, kind, e.Size(),
                        UtcTime(e.writeTime).c_str(), TerminalText(name).c_str());
        }
        first = false;
        id = e.nextSibling;
        any = r.ReadNextEntry(e, e);
    }
    if (a.json) std::printf("]}\n");
    return kExitOk;
}

int RunRemark(int argc, char** argv) {
    Args a = ParseArgs(argc, argv, {"--set", "--from"}, false);
    const char* usage = "remark INDEX.orb [--set TEXT | --from FILE]";
    if (a.bad || a.positional.size() != 1 || a.options.size() > 1) return Usage(usage);
    CIndexReader r;
    if (a.options.empty()) {
        if (!OpenIndex(r, a.positional[0], OpenMode::ReadShareAll)) return kExitFailed;
        std::string text;
        if (!r.ReadRemark(text)) return Fail(r.LastError());
        std::string host = StoredToHost(text);
        std::fwrite(host.data(), 1, host.size(), stdout);
        if (!host.empty() && host.back() != '\n') std::fputc('\n', stdout);
        return kExitOk;
    }
    std::string text;
    if (a.options[0].first == "--set") {
        text = HostToStored(a.options[0].second);
    } else {
        std::string raw;
        if (!ReadWholeFile(a.options[0].second, raw, 64 << 20))
            return Fail("cannot read " + a.options[0].second);
        // A text file ends at its first NUL byte. UTF-8 text is converted; anything
        // else is taken as the disc's own code page bytes.
        raw = raw.substr(0, raw.find('\0'));
        text = IsValidUtf8(raw) ? HostToStored(raw) : raw;
    }
    if (!OpenIndex(r, a.positional[0], OpenMode::ReadWriteShareAll)) return kExitFailed;
    if (!r.WriteRemark(text)) return Fail(r.LastError());
    if (!r.Close()) return Fail(r.LastError());
    return kExitOk;
}

int RunCover(int argc, char** argv) {
    Args a = ParseArgs(argc, argv, {}, false);
    if (a.bad || a.positional.size() != 2) return Usage("cover INDEX.orb PICTURE");
    CIndexReader r;
    if (!OpenIndex(r, a.positional[0], OpenMode::ReadWriteShareAll)) return kExitFailed;
    if (!r.ReplaceCover(a.positional[1])) return Fail(r.LastError());
    if (!r.Close()) return Fail(r.LastError());
    return kExitOk;
}

int RunNote(int argc, char** argv) {
    Args a = ParseArgs(argc, argv, {}, false);
    const char* usage = "note INDEX.orb ID [TEXT]";
    int32_t id = 0;
    if (a.bad || a.positional.size() < 2 || a.positional.size() > 3 ||
        !ParseId(a.positional[1], id))
        return Usage(usage);
    CIndexReader r;
    const bool set = a.positional.size() == 3;
    if (!OpenIndex(r, a.positional[0], set ? OpenMode::ReadWriteShareAll : OpenMode::ReadShareAll))
        return kExitFailed;
    // Only an entry of this index may carry a note.
    bool known = false;
    auto match = [&](int32_t entryId, const IndexEntry&) {
        known = entryId == id;
        return !known;
    };
    uint64_t budget = r.MaxEntryCount();
    WalkAll(r, nullptr, budget, match);
    if (!known) return Fail("no entry with id " + a.positional[1]);
    if (!set) {
        if (const std::string* text = r.FindAnnotation(id)) {
            std::string host = StoredToHost(*text);
            std::fwrite(host.data(), 1, host.size(), stdout);
            if (!host.empty() && host.back() != '\n') std::fputc('\n', stdout);
        }
        return kExitOk;
    }
    r.SetAnnotation(id, HostToStored(a.positional[2]));
    if (!r.Close()) return Fail(r.LastError());
    return kExitOk;
}

}  // namespace orbtool
