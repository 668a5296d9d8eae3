#include <cstdio>

#include "app/orbtool/commands.h"

namespace orbtool {

int RunScan(int, char**) {
    std::fprintf(stderr, "orbtool scan: not built yet\n");
    return kExitFailed;
}

}  // namespace orbtool
