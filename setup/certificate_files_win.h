// The certificate files the tool writes into the cert folder, and their copies.
#pragma once

#include <array>
#include <string>

#include "setup/install_layout.h"

namespace qardex::setup {

// One flag per copy of the layout, in its order.
using CopyFlags = std::array<bool, std::tuple_size<decltype(InstallLayout::copies)>::value>;

// Removes the files the tool is about to write, so that whatever lies there after its run is
// its own work. A flag is set when that source is gone (or was never there).
CopyFlags ClearToolOutput(const InstallLayout& layout);

struct PlacedFiles {
  CopyFlags copied = {};  // a flag for each copy made
  // What the root certificate's source held when it was copied (up to the import's read
  // limit): the text the root store gets, whatever happens to the files afterwards.
  std::string rootText;
  // The system error number when the tool's key file is still there: it could not be opened for
  // deletion (held open by someone else, say) or not deleted. 0 when it is gone.
  int keyDeleteError = 0;
};

// Copies each source that was cleared before the tool ran, exists now and is large enough over
// its destination; a missing or small source, or a failed copy, is passed over. The root
// certificate's source is read and copied while it is held open against writers. The key's
// copy is readable by SYSTEM and Administrators only and made from the bytes read through a held
// handle; its source is deleted through that handle whether or not it was copied.
PlacedFiles PlaceCertificateFiles(const InstallLayout& layout, const CopyFlags& cleared);

}  // namespace qardex::setup
