#include <cstdio>

#include "app/orbtool/commands.h"

namespace orbtool {

namespace {
int NotYet(const char* name) {
    std::fprintf(stderr, "orbtool %s: not built yet\n", name);
    return kExitFailed;
}
}  // namespace

int RunInfo(int, char**) {
    return NotYet("info");
}
int RunLs(int, char**) {
    return NotYet("ls");
}
int RunRemark(int, char**) {
    return NotYet("remark");
}
int RunCover(int, char**) {
    return NotYet("cover");
}
int RunNote(int, char**) {
    return NotYet("note");
}

}  // namespace orbtool
