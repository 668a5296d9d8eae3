// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/tree/category_name.h"

namespace orb {

std::string NewCategoryName(const std::function<bool(std::string_view)>& taken,
                            std::string_view baseName) {
    std::string candidate(baseName);
    for (long counter = 1; taken(candidate); ++counter)
        candidate = std::string(baseName) + "(" + std::to_string(counter) + ")";
    return candidate;
}

}  // namespace orb
