#include "setup/private_copy_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include "setup/win_handles.h"

namespace qardex::setup {

namespace {

// Full control for SYSTEM and Administrators, nothing inherited from the folder.
constexpr char kSystemOnly[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// Beside the destination; shorter than the longest path the layout admits.
constexpr char kStagingSuffix[] = ".new";

LocalMemory SystemOnlyDescriptor() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kSystemOnly, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return LocalMemory(descriptor);
}

bool CopyContent(HANDLE from, HANDLE to) {
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    DWORD written = 0;
    if (!WriteFile(to, buffer, got, &written, nullptr) || written != got) return false;
  }
}

bool WriteStaging(const std::string& source, const std::string& staging) {
  const LocalMemory descriptor = SystemOnlyDescriptor();
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  const KernelHandle from = AdoptFileHandle(CreateFileA(
      source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!from) return false;
  DeleteFileA(staging.c_str());
  // A new file only: an existing one would keep its own access list.
  const KernelHandle to = AdoptFileHandle(CreateFileA(
      staging.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return to && CopyContent(from.get(), to.get()) && FlushFileBuffers(to.get());
}

}  // namespace

bool CopyForSystemOnly(const std::string& source, const std::string& destination) {
  const std::string staging = destination + kStagingSuffix;
  if (WriteStaging(source, staging) &&
      MoveFileExA(staging.c_str(), destination.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(staging.c_str());
  return false;
}

}  // namespace qardex::setup
