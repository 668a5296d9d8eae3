// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a disc's index by its header among the library's index files.
#include "library/store/disc_finder.h"

#include "index/index_reader.h"
#include "library/store/library_store.h"

namespace orb {

std::vector<std::string> FindIndexesOfDisc(const std::string& libraryRoot,
                                           const IndexHeader& header,
                                           const std::string& knownPath) {
    std::vector<std::string> found;
    auto holdsDisc = [&](const std::string& path) {
        IndexHeader there;
        return ProbeIndexHeader(path, there) && SameDisc(there, header);
    };
    auto seen = [&](const std::string& path) {
        for (const std::string& f : found)
            if (IsSameFile(f, path)) return true;
        return false;
    };
    if (!knownPath.empty() && holdsDisc(knownPath)) found.push_back(knownPath);
    if (libraryRoot.empty()) return found;
    for (const std::string& path : LibraryDiscPaths(libraryRoot))
        if (holdsDisc(path) && !seen(path)) found.push_back(path);
    return found;
}

}  // namespace orb
