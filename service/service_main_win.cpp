// mQARDEXService.exe: a Windows service in its own process, or with --console
// a foreground program for development and tests (stops on Ctrl+C or when
// standard input closes).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

#include "qardex_constants.h"
#include "service/service_program.h"

namespace {

using qardex::service::RunService;

// The service manager's callbacks carry no context of their own.
std::atomic<bool> g_stop{false};
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

void Report(DWORD state, int exitCode = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  if (exitCode != 0) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  }
  status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      g_stop = true;
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerExW(L"", ControlHandler, nullptr);
  if (g_statusHandle == nullptr) return;
  Report(SERVICE_START_PENDING);
  const int exitCode = RunService(g_stop, [] { Report(SERVICE_RUNNING); });
  Report(SERVICE_STOPPED, exitCode);
}

BOOL WINAPI ConsoleHandler(DWORD) {
  g_stop = true;
  return TRUE;
}

// Sets the stop flag when standard input ends (the test bed closes it).
DWORD WINAPI WatchStandardInput(LPVOID input) {
  char buffer[256];
  DWORD read = 0;
  while (ReadFile(static_cast<HANDLE>(input), buffer, sizeof buffer, &read, nullptr) && read > 0) {
  }
  g_stop = true;
  return 0;
}

int RunConsole() {
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input != nullptr && input != INVALID_HANDLE_VALUE) {
    const HANDLE watcher = CreateThread(nullptr, 0, WatchStandardInput, input, 0, nullptr);
    if (watcher != nullptr) CloseHandle(watcher);
  }
  return RunService(g_stop, [] {
    std::printf("listening on https://%s:%u\n", qardex::build::kLocalServiceHost,
                static_cast<unsigned>(qardex::build::kLocalServicePort));
    std::fflush(stdout);
  });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--console") == 0) return RunConsole();
  if (argc != 1) {
    std::fprintf(stderr, "usage: mQARDEXService [--console]\n");
    return qardex::service::kExitUsage;
  }
  // The name is ignored for a service in its own process.
  static wchar_t name[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fprintf(stderr,
                 "mQARDEXService: not started by the service manager; use --console to run it "
                 "in the foreground\n");
    return qardex::service::kExitUsage;
  }
  return 0;
}
