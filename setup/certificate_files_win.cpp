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

bool Gone(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

CopyFlags ClearToolOutput(const InstallLayout& layout) {
  CopyFlags cleared = {};
  for (std::size_t i = 0; i < layout.copies.size(); ++i) {
    cleared[i] = Gone(layout.copies[i].source);
  }
  return cleared;
}

CopyFlags PlaceCertificateFiles(const InstallLayout& layout, const CopyFlags& cleared) {
  CopyFlags placed = {};
  for (std::size_t i = 0; i < layout.copies.size(); ++i) {
    const CertificateCopy& copy = layout.copies[i];
    placed[i] = cleared[i] && SourceWorthCopying(copy.source) &&
                CopyFileA(copy.source.c_str(), copy.destination.c_str(), FALSE);
  }
  return placed;
}

}  // namespace qardex::setup
