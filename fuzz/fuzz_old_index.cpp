// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: release 2.2 index files. Parses the bytes, writes what parsed in
// the new format and reads it back; then converts the same bytes as a library file:
// a failed or refused conversion leaves the file exactly as it was.
#include "convert/converter.h"
#include "convert/old_index.h"
#include "fuzz/fuzz_support.h"
#include "index/index_reader.h"
#include "index/index_writer.h"

using namespace orb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = orb::fuzz::ScratchPath("old.orb");

    OldIndexContent content;
    std::string reason;
    const bool parsed = ParseOldIndex(bytes, content, &reason);
    if (!parsed) FUZZ_CHECK(!reason.empty());

    orb::fuzz::PutFile(path, bytes);
    orb::fuzz::RemoveFile(path + "r");
    const ConvertFileResult r = ConvertIndexFile(path);
    const std::string after = orb::fuzz::GetFile(path);
    FUZZ_CHECK(!orb::fuzz::GetFile(path + ".tmp").size());
    switch (r.outcome) {
        case ConvertOutcome::AlreadyNew:
            FUZZ_CHECK(HasNewIndexMagic(bytes));
            FUZZ_CHECK(after == bytes);
            break;
        case ConvertOutcome::Failed:
            FUZZ_CHECK(after == bytes);
            FUZZ_CHECK(!r.reason.empty());
            break;
        case ConvertOutcome::Converted: {
            FUZZ_CHECK(parsed);
            CIndexReader reader;
            FUZZ_CHECK(reader.Open(path, OpenMode::ReadShareAll) == 1);
            FUZZ_CHECK(reader.GetFileCount() == content.header.fileCount);
            FUZZ_CHECK(reader.GetDirectoryCount() == content.header.dirCount);
            std::string remark;
            reader.ReadRemark(remark);
            FUZZ_CHECK(remark == content.remark);
            // Every record the parser kept is reachable once in the new file.
            uint64_t visits = 0;
            std::vector<IndexEntry> stack;
            IndexEntry e;
            if (reader.ReadFirstEntry(nullptr, e)) stack.push_back(e);
            while (!stack.empty() && visits <= content.tree.Size()) {
                IndexEntry cur = stack.back();
                stack.pop_back();
                ++visits;
                if (reader.ReadNextEntry(cur, e)) stack.push_back(e);
                if (cur.IsDirectory() && reader.ReadFirstEntry(&cur, e)) stack.push_back(e);
            }
            const bool countsGiveEntries =
                content.header.fileCount != 0 || content.header.dirCount != 0;
            if (countsGiveEntries) FUZZ_CHECK(visits == content.tree.Size());
            reader.Close();
            break;
        }
    }
    return 0;
}
