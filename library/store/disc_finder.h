// SPDX-License-Identifier: GPL-3.0-or-later
// Finding where a disc's index went after someone else renamed or moved it.
#pragma once

#include <string>
#include <vector>

#include "index/index_format.h"

namespace orb {

// The index files holding the disc with this header: knownPath first (the open
// file's present name, when the system still knows it) when it holds the disc,
// then every disc of the library whose header is the disc's, in walk order, each
// file once. A file that is no index, or another disc's, is left out.
std::vector<std::string> FindIndexesOfDisc(const std::string& libraryRoot,
                                           const IndexHeader& header,
                                           const std::string& knownPath = std::string());

}  // namespace orb
