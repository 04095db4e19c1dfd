#include "setup/command_runner_win.h"

#include <windows.h>

#include <cstdio>
#include <optional>

#include "setup/narrow_text_win.h"
#include "setup/program_folder_win.h"
#include "setup/win_handles.h"

namespace qardex::setup {

namespace {

// The interpreter of the system folder. COMSPEC is not consulted: in an elevated run it comes
// from the user's environment and could name any program.
std::optional<std::wstring> SystemInterpreter() {
  std::optional<std::wstring> folder = SystemFolderWide();
  if (!folder) return std::nullopt;
  *folder += L"\\cmd.exe";
  return folder;
}

}  // namespace

int RunThroughInterpreter(const std::string& command) {
  const std::optional<std::wstring> interpreter = SystemInterpreter();
  if (!interpreter) return -1;
  std::wstring line = L"\"" + *interpreter + L"\" /c " + ToWide(command);

  // What this program wrote so far comes before what the command writes.
  std::fflush(stdout);
  std::fflush(stderr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(interpreter->c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  const KernelHandle processHandle(process.hProcess);
  const KernelHandle threadHandle(process.hThread);
  DWORD exitCode = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &exitCode)) {
    return -1;
  }
  return static_cast<int>(exitCode);
}

}  // namespace qardex::setup
