// SPDX-License-Identifier: GPL-3.0-or-later
// The name proposed for a new category: "新建光盘库", then "新建光盘库(1)",
// "新建光盘库(2)" and so on, the first one no sibling carries yet.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orb {

// Host text (UTF-8).
constexpr const char* kNewCategoryBaseName = "新建光盘库";

// taken answers whether a sibling (category or disc) already has the label.
std::string NewCategoryName(const std::function<bool(std::string_view)>& taken,
                            std::string_view baseName = kNewCategoryBaseName);

}  // namespace orb
