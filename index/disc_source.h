// SPDX-License-Identifier: GPL-3.0-or-later
// A disc the scanner lists without a mounted file system (an image file): it
// names its own label and capacity and fills the scan tree itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "index/scan_tree.h"

namespace orb {

// Told about each entry just appended to the tree; false stops the listing.
using DiscListObserver = std::function<bool(bool isDirectory, uint64_t size)>;

class IDiscSource {
public:
    virtual ~IDiscSource() = default;
    // The volume label as stored text, and the capacity in bytes.
    virtual std::string StoredLabel() const = 0;
    virtual uint64_t Capacity() const = 0;
    // Bytes of one allocation unit, for the used bytes of the collect bar.
    virtual uint32_t ClusterSize() const = 0;
    // Appends every entry to tree, each directory before its contents and each
    // list in the disc's order. False with a message when the disc cannot be
    // listed whole or the observer stopped it: a partial tree is never an index.
    virtual bool List(CScanTree& tree, const DiscListObserver& observer, std::string& error) = 0;
};

}  // namespace orb
