// QARDEXHost.exe: the native messaging host the browser extension starts; with --diagnose
// [--json] the extension's part of the set-up check (the host's face and the check share a
// layer, so the choice is made here).
#include <cwchar>

#include "checkup/diagnose_win.h"
#include "host/host_program.h"

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && argc <= 3 && std::wcscmp(argv[1], L"--diagnose") == 0) {
    const bool json = argc == 3 && std::wcscmp(argv[2], L"--json") == 0;
    if (argc == 2 || json) return qardex::checkup::RunExtensionDiagnose(json);
  }
  return qardex::host::RunHost(argc, argv);
}
