#include "setup/command_runner_win.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>

#include "setup/child_environment.h"
#include "setup/narrow_text_win.h"
#include "setup/program_folder_win.h"
#include "common/win_handles.h"

namespace qardex::setup {

namespace {

struct EnvironmentFreer {
  void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
};

// This process's environment with COMSPEC naming `interpreter`.
std::wstring ChildEnvironment(const std::wstring& interpreter) {
  const std::unique_ptr<wchar_t, EnvironmentFreer> own(GetEnvironmentStringsW());
  std::wstring_view block;
  if (own) {
    // The block ends at the first empty entry.
    const wchar_t* end = own.get();
    while (*end != L'\0') end += std::wcslen(end) + 1;
    block = std::wstring_view(own.get(), static_cast<std::size_t>(end - own.get()));
  }
  return WithInterpreter(block, interpreter);
}

}  // namespace

int RunThroughInterpreter(const std::string& command, bool ownHandles) {
  // The interpreter of the system folder. COMSPEC is not consulted: in an elevated run it comes
  // from the user's environment and could name any program. The system folder is also where the
  // interpreter and what it starts run: a program or DLL it looks for in its current folder is
  // then the system's own, never one planted in the folder this program was started from.
  const std::optional<std::wstring> systemFolder = SystemFolderWide();
  if (!systemFolder) return -1;
  const std::wstring interpreter = *systemFolder + L"\\cmd.exe";
  std::wstring line = L"\"" + interpreter + L"\" /c " + ToWide(command);
  std::wstring environment = ChildEnvironment(interpreter);

  // What this program wrote so far comes before what the command writes.
  std::fflush(stdout);
  std::fflush(stderr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (ownHandles ? CREATE_NO_WINDOW : 0);
  if (!CreateProcessW(interpreter.c_str(), line.data(), nullptr, nullptr, ownHandles ? FALSE : TRUE,
                      flags, environment.data(), systemFolder->c_str(), &startup, &process)) {
    return -1;
  }
  const common::KernelHandle processHandle(process.hProcess);
  const common::KernelHandle threadHandle(process.hThread);
  DWORD exitCode = 0;
  if (WaitForSingleObject(process.hProcess, kCommandLimitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    return -1;
  }
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) return -1;
  return static_cast<int>(exitCode);
}

}  // namespace qardex::setup
