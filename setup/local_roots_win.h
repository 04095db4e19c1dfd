// The local machine's trusted root store, and the local service's own roots in it.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <vector>

#include "common/win_handles.h"

namespace qardex::setup {

// The local machine's "root" store, open for changes; null when it cannot be opened.
common::CertStore OpenMachineRootStore();

// Changes become lasting only when committed on some platforms (harmless elsewhere).
bool CommitStore(HCERTSTORE store);

// Deletes every root of the local service (known by its subject) except the certificate whose
// encoded bytes are `keep` (none when empty), then commits. False when the store cannot be
// opened, a deletion fails or the commit fails; what could be deleted is gone all the same.
bool RemoveLocalServiceRoots(const std::vector<BYTE>& keep);

// Deletes that one root of the local service (its encoded bytes), then commits.
bool RemoveLocalServiceRoot(const std::vector<BYTE>& encoded);

}  // namespace qardex::setup
