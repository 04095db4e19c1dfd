#include "setup/service_manager_win.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <tuple>

#include "setup/narrow_text_win.h"
#include "common/win_handles.h"

namespace qardex::setup {

static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(kErrorServiceMarkedForDelete == ERROR_SERVICE_MARKED_FOR_DELETE);

namespace {

SystemError LastError() { return static_cast<SystemError>(GetLastError()); }
SystemError Outcome(BOOL ok) { return ok ? kNoError : LastError(); }

class WinService final : public Service {
 public:
  explicit WinService(common::ScHandle handle) : handle_(std::move(handle)) {}

  SystemError Stop() override {
    SERVICE_STATUS status = {};
    return Outcome(ControlService(handle_.get(), SERVICE_CONTROL_STOP, &status));
  }

  std::optional<ServiceStatus> Status() override {
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    if (!QueryServiceStatusEx(handle_.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof status, &size)) {
      return std::nullopt;
    }
    ServiceStatus result;
    result.processId = status.dwProcessId;
    result.exitCode = status.dwWin32ExitCode;
    result.serviceExitCode = status.dwServiceSpecificExitCode;
    switch (status.dwCurrentState) {
      case SERVICE_STOPPED:
        result.state = ServiceState::kStopped;
        break;
      case SERVICE_RUNNING:
        result.state = ServiceState::kRunning;
        break;
      default:
        result.state = ServiceState::kPending;
    }
    return result;
  }

  SystemError Delete() override { return Outcome(DeleteService(handle_.get())); }
  SystemError Start() override { return Outcome(StartServiceW(handle_.get(), 0, nullptr)); }
  SystemError Close() override { return Outcome(CloseServiceHandle(handle_.release())); }

  SystemError SetFailurePolicy(const FailurePolicy& policy) override {
    std::array<SC_ACTION, std::tuple_size_v<decltype(policy.steps)>> actions{};
    for (std::size_t i = 0; i < actions.size(); ++i) {
      actions[i].Type = policy.steps[i].response == FailureResponse::kRestart ? SC_ACTION_RESTART
                                                                              : SC_ACTION_NONE;
      actions[i].Delay = policy.steps[i].delayMilliseconds;
    }
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = policy.resetSeconds;
    failure.cActions = static_cast<DWORD>(actions.size());
    failure.lpsaActions = actions.data();
    if (!ChangeServiceConfig2W(handle_.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
      return LastError();
    }
    // A manager that does not know the flag (Wine 8 answers ERROR_INVALID_LEVEL) still takes
    // the actions after a crash; that is all it can do.
    SERVICE_FAILURE_ACTIONS_FLAG onExit{policy.onFailureExit};
    if (!ChangeServiceConfig2W(handle_.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onExit) &&
        GetLastError() != ERROR_INVALID_LEVEL) {
      return LastError();
    }
    return kNoError;
  }

 private:
  common::ScHandle handle_;
};

OpenedService Opened(SC_HANDLE handle) {
  if (!handle) return {nullptr, LastError()};
  return {std::make_unique<WinService>(common::ScHandle(handle)), kNoError};
}

DWORD AccessRights(ServiceAccess access) {
  switch (access) {
    case ServiceAccess::kFull:
      return SERVICE_ALL_ACCESS;
    case ServiceAccess::kDelete:
      return DELETE;
    case ServiceAccess::kQueryStatus:
      return SERVICE_QUERY_STATUS;
  }
  return 0;
}

class WinServiceManager final : public ServiceManager {
 public:
  explicit WinServiceManager(common::ScHandle manager) : manager_(std::move(manager)) {}

  OpenedService Open(const std::string& name, ServiceAccess access) override {
    return Opened(OpenServiceW(manager_.get(), ToWide(name).c_str(), AccessRights(access)));
  }

  OpenedService CreateAutoStart(const std::string& name, const std::string& program,
                                const std::string& arguments) override {
    const std::wstring wideName = ToWide(name);
    // Quoted, so that a folder name with blanks is never split into a shorter program path.
    const std::wstring command =
        L"\"" + ToWide(program) + L"\"" + (arguments.empty() ? L"" : L" " + ToWide(arguments));
    return Opened(CreateServiceW(manager_.get(), wideName.c_str(), wideName.c_str(),
                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                 SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr));
  }

 private:
  common::ScHandle manager_;
};

class WinServiceControl final : public ServiceControl {
 public:
  ConnectedManager Connect() override {
    common::ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return {nullptr, LastError()};
    return {std::make_unique<WinServiceManager>(std::move(manager)), kNoError};
  }

  void Pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
  std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static WinServiceControl control;
  return control;
}

}  // namespace qardex::setup
