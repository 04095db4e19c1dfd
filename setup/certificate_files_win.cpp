#include "setup/certificate_files_win.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "setup/certificate_rules.h"
#include "setup/private_copy_win.h"
#include "common/win_handles.h"

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

// Up to `limit` bytes; the count tells whether the file fits.
std::string ReadLimited(HANDLE file, std::size_t limit) {
  std::string text(limit, '\0');
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

std::optional<std::uint64_t> SizeOf(HANDLE file) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

// The tool's key is read through a handle that may delete it and through which no one else may
// write, rename or delete it meanwhile; the protected copy is made from those bytes (when the
// tool wrote them in this run) and the original is deleted through the same handle, so that no
// unprotected key outlives the run unnoticed. The error when it cannot be opened so or deleted.
DWORD MoveKey(const CertificateCopy& copy, bool fresh, bool* copied) {
  const common::KernelHandle held = common::AdoptFileHandle(
      CreateFileA(copy.source.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  const std::optional<std::uint64_t> size = SizeOf(held.get());
  if (fresh && size && WorthCopying(*size) && *size <= kKeyReadLimit) {
    std::string key = ReadLimited(held.get(), kKeyReadLimit);
    *copied = key.size() == *size && WriteForSystemOnly(key, copy.destination);
    SecureZeroMemory(key.data(), key.size());
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (!SetFileInformationByHandle(held.get(), FileDispositionInfo, &disposition,
                                  sizeof disposition)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// Reads the source and copies it while no one else may write, rename or delete it, so that the
// copy and the text are the same bytes.
bool CopyHeld(const CertificateCopy& copy, std::string* text) {
  const common::KernelHandle held =
      common::AdoptFileHandle(CreateFileA(copy.source.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held || !SourceWorthCopying(copy.source)) return false;
  *text = ReadLimited(held.get(), kImportReadLimit);
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
    if (i == kServerKeyCopy) {
      placed.keyDeleteError = static_cast<int>(MoveKey(copy, cleared[i], &placed.copied[i]));
      continue;
    }
    if (!cleared[i]) continue;
    if (i == kRootCertificateCopy) {
      placed.copied[i] = CopyHeld(copy, &placed.rootText);
    } else {
      placed.copied[i] = SourceWorthCopying(copy.source) &&
                         CopyFileA(copy.source.c_str(), copy.destination.c_str(), FALSE);
    }
  }
  return placed;
}

}  // namespace qardex::setup
