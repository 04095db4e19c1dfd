// Copies of the certificate files the tool left in the cert folder.
#pragma once

#include "setup/install_layout.h"

namespace qardex::setup {

// Each copy replaces its destination when its source exists and is large enough; a missing or
// small source, or a failed copy, is passed over.
void PlaceCertificateFiles(const InstallLayout& layout);

}  // namespace qardex::setup
