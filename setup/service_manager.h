// The Service Control Manager as the installer and the uninstaller use it, behind a small
// interface so that their sequences run against a scripted fake in tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "setup/failure_policy.h"
#include "setup/system_errors.h"

namespace qardex::setup {

enum class ServiceAccess { kFull, kDelete, kQueryStatus };
enum class ServiceState { kStopped, kRunning, kPending };

struct ServiceStatus {
  ServiceState state = ServiceState::kStopped;
  std::uint32_t processId = 0;  // 0 unless it runs
  // What a stopped service reported: the system error number, and its own number when that is
  // ERROR_SERVICE_SPECIFIC_ERROR (1066).
  std::uint32_t exitCode = 0;
  std::uint32_t serviceExitCode = 0;
};

// One open service handle; closed by its destructor unless Close() was called.
class Service {
 public:
  virtual ~Service() = default;
  virtual SystemError Stop() = 0;
  // nullopt when the status cannot be queried.
  virtual std::optional<ServiceStatus> Status() = 0;
  std::optional<ServiceState> State() {
    const std::optional<ServiceStatus> status = Status();
    if (!status) return std::nullopt;
    return status->state;
  }
  virtual SystemError Delete() = 0;
  virtual SystemError Start() = 0;
  virtual SystemError SetFailurePolicy(const FailurePolicy& policy) = 0;
  virtual SystemError Close() = 0;
};

struct OpenedService {
  std::unique_ptr<Service> service;  // null on failure
  SystemError error = kNoError;
};

// One connection to the local machine's Service Control Manager.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual OpenedService Open(const std::string& name, ServiceAccess access) = 0;
  // An own-process service started automatically, with normal error control, running as the
  // local system account; the display name is the service name.
  virtual OpenedService CreateAutoStart(const std::string& name, const std::string& program,
                                        const std::string& arguments) = 0;
};

struct ConnectedManager {
  std::unique_ptr<ServiceManager> manager;  // null on failure
  SystemError error = kNoError;
};

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // Full access to the local machine's manager.
  virtual ConnectedManager Connect() = 0;
  // Lets time pass while a service goes away or starts.
  virtual void Pause(int milliseconds) = 0;
  // The steady clock the waits are bounded on.
  virtual std::chrono::steady_clock::time_point Now() = 0;
};

}  // namespace qardex::setup
