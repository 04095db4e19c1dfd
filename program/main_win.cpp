// mQARDEXService.exe: a Windows service in its own process; with --console a foreground program
// for development and tests (stops on Ctrl+C or when standard input closes); with --worker PIPE
// the worker of one Windows session, started by the service itself; with --diagnose [--json] the
// set-up check, with --bundle FILE.zip a support bundle.
#include <windows.h>
#include <wtsapi32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string_view>

#include "checkup/diagnose_win.h"
#include "qardex_constants.h"
#include "https/listen_retry.h"
#include "service/service_log_win.h"
#include "service/service_program.h"
#include "worker/worker_program.h"

namespace {

using qardex::service::ExitCode;
using qardex::service::RunService;
using qardex::service::ServiceOptions;

constexpr char kUsage[] =
    "usage: mQARDEXService [--no-browser-policies]   (as the service manager starts it)\n"
    "       mQARDEXService --console [--worker-idle SECONDS]\n"
    "       mQARDEXService --diagnose [--json]\n"
    "       mQARDEXService --bundle FILE.zip\n"
    "       (--worker PIPE is how the service starts its workers)\n";
// A day: longer idle times are surely a slip of the hand.
constexpr unsigned long kLongestWorkerIdleSeconds = 24 * 60 * 60;

// The service manager's callbacks carry no context of their own.
std::atomic<bool> g_stop{false};
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
ServiceOptions g_serviceOptions;  // from the service's command line

void Report(DWORD state, int exitCode = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE
          : 0;
  if (exitCode != 0) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  }
  // A start may wait the whole listen retry for its port before it runs.
  constexpr auto kStartHint =
      std::chrono::milliseconds(std::chrono::seconds(qardex::build::kLocalServiceStartSeconds));
  status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0
                      : state == SERVICE_START_PENDING ? static_cast<DWORD>(kStartHint.count())
                                                       : 10000;
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      g_stop = true;
      return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE:
      if (eventType == WTS_SESSION_LOGOFF && eventData != nullptr) {
        qardex::service::EndWindowsSession(
            static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId);
      }
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
  const int exitCode = RunService(
      g_stop, [] { Report(SERVICE_RUNNING); }, g_serviceOptions);
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

int RunConsole(const ServiceOptions& options) {
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input != nullptr && input != INVALID_HANDLE_VALUE) {
    const HANDLE watcher = CreateThread(nullptr, 0, WatchStandardInput, input, 0, nullptr);
    if (watcher != nullptr) CloseHandle(watcher);
  }
  return RunService(
      g_stop,
      [] {
        std::printf("listening on https://%s:%u\n", qardex::build::kLocalServiceHost,
                    static_cast<unsigned>(qardex::build::kLocalServicePort));
        std::fflush(stdout);
      },
      options);
}

// 1 to kLongestWorkerIdleSeconds, in decimal digits only.
std::optional<std::chrono::seconds> ParseSeconds(const wchar_t* text) {
  unsigned long value = 0;
  if (*text == L'\0') return std::nullopt;
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(*text - L'0');
    if (value > kLongestWorkerIdleSeconds) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return std::chrono::seconds(value);
}

int Usage() {
  std::fputs(kUsage, stderr);
  return ExitCode::kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--worker") == 0) {
    return qardex::worker::RunWorker(argv[2]);
  }
  if (argc >= 2 && std::wcscmp(argv[1], L"--diagnose") == 0) {
    const bool json = argc == 3 && std::wcscmp(argv[2], L"--json") == 0;
    if (argc != 2 && !json) return Usage();
    return qardex::checkup::RunDiagnose(json);
  }
  if (argc == 3 && std::wcscmp(argv[1], L"--bundle") == 0) {
    return qardex::checkup::WriteBundle(argv[2], qardex::service::ServiceLogPath());
  }
  if (argc >= 2 && std::wcscmp(argv[1], L"--console") == 0) {
    ServiceOptions options;
    if (argc == 4 && std::wcscmp(argv[2], L"--worker-idle") == 0) {
      options.workerIdle = ParseSeconds(argv[3]);
      if (!options.workerIdle) return Usage();
    } else if (argc != 2) {
      return Usage();
    }
    return RunConsole(options);
  }
  const std::string_view policiesSwitch = qardex::build::kNoBrowserPoliciesSwitch;
  if (argc == 2 && std::equal(policiesSwitch.begin(), policiesSwitch.end(), argv[1],
                              argv[1] + std::wcslen(argv[1]))) {
    g_serviceOptions.browserPolicies = false;
  } else if (argc != 1) {
    return Usage();
  }
  // The name is ignored for a service in its own process.
  static wchar_t name[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fprintf(stderr,
                 "mQARDEXService: not started by the service manager; use --console to run it "
                 "in the foreground\n");
    return ExitCode::kExitUsage;
  }
  return 0;
}
