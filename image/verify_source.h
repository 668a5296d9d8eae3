// SPDX-License-Identifier: GPL-3.0-or-later
// A disc image as the source a verification reads: the image's listing and file
// data in place of a mounted disc's.
#pragma once

#include <memory>
#include <string>

#include "audit/disc_source.h"

namespace orb {

// Opens an image and lists it whole; null, with error set, when it is no disc
// image or cannot be listed.
std::unique_ptr<IVerifySource> OpenImageVerifySource(const std::string& path, std::string& error);

// Makes OpenDiscSource take image files through OpenImageVerifySource.
void RegisterImageVerifySource();

}  // namespace orb
