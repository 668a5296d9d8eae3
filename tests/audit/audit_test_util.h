// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the library tool tests: catalogue a folder, set times, run Python.
#pragma once

#include <cstdint>
#include <string>

namespace orb::test {

// Catalogues folder into out with the disc scanner, as a disc labelled label.
bool CatalogueFolder(const std::string& folder, const std::string& out,
                     const std::string& label = "DATA");
void SetMtime(const std::string& path, int64_t seconds);
void MakeDir(const std::string& path);
// Runs python3 with script on stdin-free command line; returns its exit status and
// collects standard output.
int RunPython(const std::string& script, const std::string& argument, std::string& out);

}  // namespace orb::test
