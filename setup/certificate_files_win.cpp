#include "setup/certificate_files_win.h"

#include <windows.h>

#include "setup/certificate_rules.h"

namespace qardex::setup {

namespace {

bool SourceWorthCopying(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  const std::uint64_t size =
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return WorthCopying(size);
}

}  // namespace

void PlaceCertificateFiles(const InstallLayout& layout) {
  for (const CertificateCopy& copy : layout.copies) {
    if (SourceWorthCopying(copy.source)) {
      CopyFileA(copy.source.c_str(), copy.destination.c_str(), FALSE);
    }
  }
}

}  // namespace qardex::setup
