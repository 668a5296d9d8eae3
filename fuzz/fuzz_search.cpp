// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the search walk over a damaged index. Input: one option byte, the
// keyword part, the companion part, then the index bytes. The search must finish,
// report progress within 0..100 that never goes back, and find no more entries
// than the file can hold.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "index/index_reader.h"

using namespace orb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orb::fuzz::InputSplitter in(data, size);
    const uint8_t options = in.Byte();
    const std::string_view keyword = in.Next();
    const std::string_view typeFilter = in.Next();
    const std::string_view companion = in.Next();
    const std::string_view index = in.Rest();

    const std::string path = orb::fuzz::ScratchPath("s.orb");
    orb::fuzz::PutFile(path, index);
    if (companion.empty())
        orb::fuzz::RemoveFile(CompanionPath(path));
    else
        orb::fuzz::PutFile(CompanionPath(path), companion);

    CIndexReader r;
    if (!r.Open(path, OpenMode::ReadShareAll)) return 0;
    const uint64_t bound = r.MaxEntryCount();
    uint64_t hits = 0;
    uint64_t progressEvents = 0;
    intptr_t lastPercent = 0;
    bool finished = false;
    bool started = false;
    CPlainMessageTarget target([&](uint32_t msg, WPARAM w, LPARAM l) -> LRESULT {
        FUZZ_CHECK(msg == WM_SEARCH_EVENT);
        FUZZ_CHECK(!finished);
        switch (w) {
            case SEARCH_STARTED:
                started = true;
                break;
            case SEARCH_PROGRESS:
                FUZZ_CHECK(started);
                FUZZ_CHECK(l >= 0 && l <= 100);
                FUZZ_CHECK(l >= lastPercent);
                lastPercent = l;
                ++progressEvents;
                break;
            case SEARCH_FOUND: {
                FUZZ_CHECK(started);
                const auto* hit = reinterpret_cast<const SearchResult*>(l);
                FUZZ_CHECK(hit != nullptr);
                ++hits;
                break;
            }
            case SEARCH_FINISHED:
                finished = true;
                break;
            default:
                FUZZ_CHECK(false);
        }
        return 0;
    });
    r.SetSearchOptions(&target, typeFilter.empty() ? "*" : typeFilter, options);
    std::thread* worker = r.BeginSearch(keyword);
    // SEARCH_FINISHED is posted: wait for it on this thread (generous deadline,
    // an unfinished search is a hang).
    int waited = 0;
    while (!finished) {
        FUZZ_CHECK(++waited <= 600);
        target.WaitPosted(100);
    }
    if (worker && worker->joinable()) worker->join();
    FUZZ_CHECK(hits <= bound);
    FUZZ_CHECK(progressEvents <= bound + 1);
    r.Close();
    return 0;
}
