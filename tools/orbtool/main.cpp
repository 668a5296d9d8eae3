// SPDX-License-Identifier: GPL-3.0-or-later
// orbtool: the disc catalogue engine on the command line. It parses the
// command word, hands the rest to the command's function and returns its
// exit status; all behaviour lives in the engine.
#include <cstdio>
#include <cstring>

#include "tools/orbtool/commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* usage;
};

const Command kCommands[] = {
    {"scan", orbtool::RunScan, "scan FOLDER|IMAGE OUT.orb [--label TEXT] [--capacity BYTES]"},
    {"info", orbtool::RunInfo, "info INDEX.orb [--json]"},
    {"ls", orbtool::RunLs,
     "ls INDEX.orb [DIR] [--json] | ls INDEX.orb --recursive --csv|--html|--json"},
    {"remark", orbtool::RunRemark, "remark INDEX.orb [--set TEXT | --from FILE]"},
    {"cover", orbtool::RunCover, "cover INDEX.orb PICTURE"},
    {"note", orbtool::RunNote, "note INDEX.orb ID [TEXT]"},
    {"search", orbtool::RunSearch,
     "search TARGET... --keyword TEXT [--files] [--dirs] [--notes] [--case] [--whole] "
     "[--types FILTER] [--pinyin|--no-pinyin] [--json] [--no-index] [--stats]"},
    {"index", orbtool::RunNameIndex, "index LIBRARY [--rebuild]"},
    {"verify", orbtool::RunVerify, "verify INDEX.orb [FOLDER|IMAGE] [--full] [--json] [--all]"},
    {"dupes", orbtool::RunDupes,
     "dupes LIBRARY|INDEX... [--min-size BYTES] [--size-only] [--json]"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: orbtool COMMAND ...\n");
    for (const Command& c : kCommands) std::fprintf(out, "  orbtool %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return orbtool::kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return orbtool::kExitOk;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "orbtool: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return orbtool::kExitUsage;
}
