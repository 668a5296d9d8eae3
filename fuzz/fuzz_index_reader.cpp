// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: an index file and its companion as the reader meets them. Input:
// companion part, then the index bytes. Opens, walks every entry, reads the remark
// and looks up every entry's annotation; then, on a copy opened for writing, writes
// a remark, sets an annotation, closes and reopens to see both kept.
#include <cstring>
#include <vector>

#include "audit/index_walk.h"
#include "fuzz/fuzz_support.h"
#include "index/index_reader.h"

using namespace orb;
using orb::fuzz::GetFile;
using orb::fuzz::PutFile;

namespace {

// Depth first over every reachable entry, at most what the file can hold.
uint64_t WalkEverything(CIndexReader& r) {
    const uint64_t bound = r.MaxEntryCount();
    uint64_t visits = 0;
    struct Level {
        IndexEntry entry;
        int32_t id;
    };
    std::vector<Level> stack;
    IndexEntry first;
    if (r.ReadFirstEntry(nullptr, first)) stack.push_back({first, kFirstEntryId});
    while (!stack.empty() && visits <= bound) {
        Level cur = stack.back();
        stack.pop_back();
        ++visits;
        FUZZ_CHECK(std::strlen(cur.entry.name) <= kMaxNameBytes);
        (void)r.FindAnnotation(cur.id);
        IndexEntry next;
        if (r.ReadNextEntry(cur.entry, next)) stack.push_back({next, cur.entry.nextSibling});
        if (cur.entry.IsDirectory()) {
            (void)r.HasSubdirectory(cur.entry);
            if (r.ReadFirstEntry(&cur.entry, next)) stack.push_back({next, cur.entry.firstChild});
        }
    }
    return visits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orb::fuzz::InputSplitter in(data, size);
    const std::string_view companion = in.Next();
    const std::string_view index = in.Rest();

    const std::string path = orb::fuzz::ScratchPath("f.orb");
    const std::string orc = CompanionPath(path);
    PutFile(path, index);
    if (companion.empty())
        orb::fuzz::RemoveFile(orc);
    else
        PutFile(orc, companion);

    {
        IndexHeader probed;
        const int probe = ProbeIndexHeader(path, probed);
        CIndexReader r;
        const int opened = r.Open(path, OpenMode::ReadShareAll);
        FUZZ_CHECK(opened == probe);
        if (!opened) return 0;
        // Links only lead forward, but several may meet in one record; a walk that
        // follows all of them may visit a record more than once, yet the reader
        // must end every list inside the file.
        WalkEverything(r);
        std::string remark;
        FUZZ_CHECK(r.ReadRemark(remark) == 1);
        FUZZ_CHECK(remark.size() <= index.size());
        for (const Annotation& a : r.Annotations()) FUZZ_CHECK(r.FindAnnotation(a.id) != nullptr);
        FUZZ_CHECK(r.Close());
    }

    // The file-order scan of the duplicates search: bounded by the records, every
    // name inside them, every directory path made of names it met.
    {
        CFlatRecords flat;
        if (flat.Open(path)) {
            const bool tracked = flat.TrackDirectories();
            FlatRecord rec;
            uint64_t n = 0;
            while (flat.Next(rec)) {
                FUZZ_CHECK(++n <= index.size() / kRecordFixedSize);
                FUZZ_CHECK(rec.name.size() <= kMaxNameBytes);
                if (tracked && rec.dir >= 0)
                    FUZZ_CHECK(flat.DirPath(rec.dir).size() <= index.size() * 2);
            }
        }
    }

    // Writing: a refused remark leaves the file as it was; an accepted one is read
    // back, with the annotation set beside it.
    CIndexReader w;
    if (!w.Open(path, OpenMode::ReadWriteShareAll)) return 0;
    const std::string before = GetFile(path);
    const int wrote = w.WriteRemark("fuzz remark");
    const std::string afterWrite = GetFile(path);
    if (!wrote) FUZZ_CHECK(afterWrite == before);
    w.SetAnnotation(kFirstEntryId, "fuzz note");
    FUZZ_CHECK(w.Close());
    CIndexReader again;
    FUZZ_CHECK(again.Open(path, OpenMode::ReadShareAll) == 1);
    if (wrote) {
        std::string remark;
        again.ReadRemark(remark);
        FUZZ_CHECK(remark == "fuzz remark");
    }
    const std::string* note = again.FindAnnotation(kFirstEntryId);
    FUZZ_CHECK(note && *note == "fuzz note");
    again.Close();
    return 0;
}
