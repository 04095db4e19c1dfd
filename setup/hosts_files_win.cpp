#include "setup/hosts_files_win.h"

#include <windows.h>

#include "common/win_handles.h"

namespace qardex::setup {

namespace {

SystemError LastError() { return static_cast<SystemError>(GetLastError()); }

// Largest piece handed to one ReadFile or WriteFile call.
constexpr DWORD kPiece = 1 << 20;

class WinHostsFiles final : public HostsFiles {
 public:
  SystemError OpenForAppending(const std::string& path, std::uint64_t* size) override {
    const common::KernelHandle file = common::AdoptFileHandle(
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file.get(), &length)) return LastError();
    *size = static_cast<std::uint64_t>(length.QuadPart);
    return kNoError;
  }

  SystemError ReadAll(const std::string& path, std::string* content) override {
    const common::KernelHandle file = common::AdoptFileHandle(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    content->clear();
    char piece[64 * 1024];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file.get(), piece, sizeof piece, &got, nullptr)) return LastError();
      if (got == 0) return kNoError;
      content->append(piece, got);
    }
  }

  SystemError WriteWhole(const std::string& path, std::string_view content) override {
    common::KernelHandle file = common::AdoptFileHandle(CreateFileA(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    while (!content.empty()) {
      const DWORD want = content.size() < kPiece ? static_cast<DWORD>(content.size()) : kPiece;
      DWORD written = 0;
      if (!WriteFile(file.get(), content.data(), want, &written, nullptr)) return LastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      content.remove_prefix(written);
    }
    if (!FlushFileBuffers(file.get())) return LastError();
    if (!CloseHandle(file.release())) return LastError();
    return kNoError;
  }

  SystemError Replace(const std::string& target, const std::string& replacement) override {
    // ReplaceFile keeps the target's attributes and security; where the file system cannot do
    // that, a plain move over the target does the job.
    if (ReplaceFileA(target.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      return kNoError;
    }
    const SystemError replaceError = LastError();
    if (MoveFileExA(replacement.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return kNoError;
    }
    return replaceError;
  }

  void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }
};

}  // namespace

HostsFiles& SystemHostsFiles() {
  static WinHostsFiles files;
  return files;
}

}  // namespace qardex::setup
