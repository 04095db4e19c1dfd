#include "setup/command_runner_win.h"

#include <windows.h>

#include <cstdio>

#include "setup/narrow_text_win.h"
#include "setup/win_handles.h"

namespace qardex::setup {

namespace {

std::wstring Interpreter() {
  const DWORD length = GetEnvironmentVariableW(L"COMSPEC", nullptr, 0);
  if (length == 0) return std::wstring();
  std::wstring value(length, L'\0');
  const DWORD written = GetEnvironmentVariableW(L"COMSPEC", value.data(), length);
  if (written == 0 || written >= length) return std::wstring();
  value.resize(written);
  return value;
}

}  // namespace

int RunThroughInterpreter(const std::string& command) {
  const std::wstring interpreter = Interpreter();
  std::wstring line = L"\"" + (interpreter.empty() ? std::wstring(L"cmd.exe") : interpreter) +
                      L"\" /c " + ToWide(command);

  // What this program wrote so far comes before what the command writes.
  std::fflush(stdout);
  std::fflush(stderr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(interpreter.empty() ? nullptr : interpreter.c_str(), line.data(), nullptr,
                      nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
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
