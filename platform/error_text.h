// SPDX-License-Identifier: GPL-3.0-or-later
// Operating-system error texts for Chinese messages, and the text for a file or
// address that no program on this desktop opens.
#pragma once

#include <string>

namespace orb {

// The Chinese text of an errno value: the program's own wording for the common
// ones, else the system's Chinese text when a Chinese locale is installed, else
// the errno name ("ENOTSUP"), else "错误 N". Never empty, never English prose.
std::string ErrorText(int err);

// "没有找到可以打开它的程序：PATH" for a file or address the desktop could not hand to
// any program.
std::string NoOpenerText(const std::string& pathOrUrl);

}  // namespace orb
