#include "setup/certificate_files_win.h"

#include <windows.h>

#include "setup/certificate_rules.h"
#include "setup/private_copy_win.h"
#include "setup/win_handles.h"

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

// Up to the import's read limit; the count tells whether the file fits.
std::string ReadLimited(HANDLE file) {
  std::string text(kImportReadLimit, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    DWORD piece = 0;
    if (!ReadFile(file, text.data() + got, static_cast<DWORD>(text.size() - got), &piece,
                  nullptr) ||
        piece == 0) {
      break;
    }
    got += piece;
  }
  text.resize(got);
  return text;
}

// Reads the source and copies it while no one else may write, rename or delete it, so that the
// copy and the text are the same bytes.
bool CopyHeld(const CertificateCopy& copy, std::string* text) {
  const KernelHandle held =
      AdoptFileHandle(CreateFileA(copy.source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held || !SourceWorthCopying(copy.source)) return false;
  *text = ReadLimited(held.get());
  return CopyFileA(copy.source.c_str(), copy.destination.c_str(), FALSE);
}

}  // namespace

CopyFlags ClearToolOutput(const InstallLayout& layout) {
  CopyFlags cleared = {};
  for (std::size_t i = 0; i < layout.copies.size(); ++i) {
    cleared[i] = Gone(layout.copies[i].source);
  }
  return cleared;
}

PlacedFiles PlaceCertificateFiles(const InstallLayout& layout, const CopyFlags& cleared) {
  PlacedFiles placed;
  for (std::size_t i = 0; i < layout.copies.size(); ++i) {
    const CertificateCopy& copy = layout.copies[i];
    if (!cleared[i]) continue;
    if (i == kRootCertificateCopy) {
      placed.copied[i] = CopyHeld(copy, &placed.rootText);
    } else if (i == kServerKeyCopy) {
      placed.copied[i] =
          SourceWorthCopying(copy.source) && CopyForSystemOnly(copy.source, copy.destination);
      if (placed.copied[i]) Gone(copy.source);
    } else {
      placed.copied[i] = SourceWorthCopying(copy.source) &&
                         CopyFileA(copy.source.c_str(), copy.destination.c_str(), FALSE);
    }
  }
  return placed;
}

}  // namespace qardex::setup
