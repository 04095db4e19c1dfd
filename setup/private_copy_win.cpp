#include "setup/private_copy_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include "qardex_constants.h"
#include "common/win_handles.h"

namespace qardex::setup {

namespace {

// Beside the destination; shorter than the longest path the layout admits.
constexpr char kStagingSuffix[] = ".new";

common::LocalMemory<> SystemOnlyDescriptor() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          build::kPrivateKeyFileSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return nullptr;
  }
  return common::LocalMemory<>(descriptor);
}

bool WriteStaging(const std::string& content, const std::string& staging) {
  const common::LocalMemory<> descriptor = SystemOnlyDescriptor();
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  DeleteFileA(staging.c_str());
  // A new file only: an existing one would keep its own access list.
  const common::KernelHandle to = common::AdoptFileHandle(CreateFileA(
      staging.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return to &&
         WriteFile(to.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) &&
         written == content.size() && FlushFileBuffers(to.get());
}

}  // namespace

bool WriteForSystemOnly(const std::string& content, const std::string& destination) {
  const std::string staging = destination + kStagingSuffix;
  if (WriteStaging(content, staging) &&
      MoveFileExA(staging.c_str(), destination.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(staging.c_str());
  return false;
}

}  // namespace qardex::setup
