// The certificate files the tool writes into the cert folder, and their copies.
#pragma once

#include <array>

#include "setup/install_layout.h"

namespace qardex::setup {

// One flag per copy of the layout, in its order.
using CopyFlags = std::array<bool, std::tuple_size<decltype(InstallLayout::copies)>::value>;

// Removes the files the tool is about to write, so that whatever lies there after its run is
// its own work. A flag is set when that source is gone (or was never there).
CopyFlags ClearToolOutput(const InstallLayout& layout);

// Copies each source that was cleared before the tool ran, exists now and is large enough over
// its destination; a missing or small source, or a failed copy, is passed over. A flag is set
// for each copy made.
CopyFlags PlaceCertificateFiles(const InstallLayout& layout, const CopyFlags& cleared);

}  // namespace qardex::setup
