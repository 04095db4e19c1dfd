// Test-bed stand-in for the certificate tool (installed as cert\KeyMint.exe). It "makes" the
// certificate files by copying every file of the folder "mint" beside it into its own folder;
// the test prepares those files with openssl at the sizes a scenario needs. Exit code: the
// value of QX_KEYMINT_EXIT, else 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {
struct SearchCloser {
  void operator()(HANDLE search) const { FindClose(search); }
};
}  // namespace

int main() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L'\\') + 1);

  int copied = 0;
  WIN32_FIND_DATAW found = {};
  const HANDLE first = FindFirstFileW((folder + L"mint\\*").c_str(), &found);
  const std::unique_ptr<void, SearchCloser> search(first == INVALID_HANDLE_VALUE ? nullptr : first);
  if (search) {
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (CopyFileW((folder + L"mint\\" + found.cFileName).c_str(),
                    (folder + found.cFileName).c_str(), FALSE)) {
        ++copied;
      }
    } while (FindNextFileW(search.get(), &found));
  }
  const char* exitText = std::getenv("QX_KEYMINT_EXIT");
  const int exitCode = exitText ? std::atoi(exitText) : 0;
  std::printf("KeyMint stand-in: %d files, exit %d\n", copied, exitCode);
  return exitCode;
}
