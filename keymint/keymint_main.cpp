// KeyMint: makes the local service's certificate files in the program's own folder (no
// arguments). Exit code 0 when all four files are in place, 1 with a message otherwise; the
// folder then holds what it held before.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <ctime>
#include <exception>

#include "keymint/certificate_set.h"
#include "keymint/program_folder.h"
#include "keymint/set_writer.h"
#include "qardex_constants.h"

namespace {
// The installer runs this tool elevated from a folder anyone may have written to: DLLs loaded
// after start come from the system folder only (looked up, not imported, so that the tool still
// starts where the call is missing; there at least the current folder is left out).
void LoadDllsFromSystemFolderOnly() {
#ifdef _WIN32
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDirectories>(reinterpret_cast<void*>(
      kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
#endif
}
}  // namespace

int main() {
  using namespace qardex::keymint;
  LoadDllsFromSystemFolderOnly();
  try {
    const std::filesystem::path folder = ProgramFolder();
    const CertificateSet set =
        MintCertificateSet({qardex::build::kLocalServiceHost, qardex::build::kLocalServiceAddress},
                           std::time(nullptr), LifetimeOfNewSets());
    WriteAllOrNothing(folder, FilesOf(set));
    std::printf("KeyMint: %s, %s, %s and %s written for %s\n", kServerCertificateFile,
                kServerKeyFile, kServerChainFile, kRootCertificateFile,
                qardex::build::kLocalServiceHost);
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "KeyMint failed: %s\n", failure.what());
    return 1;
  }
}
