// Security descriptors written in SDDL, for the objects the service makes: the worker pipes and
// the log folder.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <string>

#include "common/win_handles.h"

namespace qardex::common {

// Null when the text is not a valid descriptor.
inline LocalMemory<void> SecurityDescriptorFromSddl(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return LocalMemory<void>(descriptor);
}

}  // namespace qardex::common
