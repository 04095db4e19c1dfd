// A scripted Service Control Manager for the installer's and the uninstaller's sequences. It
// keeps the rules the real one follows: a deleted service stays (marked for deletion) until it
// has stopped and its last handle is closed; a stop takes `stopPauses` pauses to complete, a
// start `startPauses`. A running service listens on `listenPort` of 127.0.0.1, which
// FakeListenerTable reports beside the sockets of other programs.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setup/port_holder.h"
#include "setup/service_manager.h"

namespace qardex::setup::testing {

struct FakeRecord {
  ServiceState state = ServiceState::kStopped;
  std::string program;
  bool marked = false;
  int stopPauses = 0;        // pauses a stop takes; -1: never stops
  bool ignoresStop = false;  // still reports running right after a stop request
  int pausesLeft = 0;
  int startPausesLeft = 0;
  std::uint32_t processId = 0;
  std::uint32_t serviceExitCode = 0;  // set when it stopped with one
  int openHandles = 0;
  std::optional<FailurePolicy> failurePolicy;
};

class FakeServiceControl : public ServiceControl {
 public:
  std::map<std::string, FakeRecord> services;
  SystemError connectError = kNoError;
  std::map<std::string, SystemError>
      failures;  // "open-full", "open-delete", "delete", "create", "close", "start", "policy"
  std::vector<std::string> calls;
  int pausedMilliseconds = 0;
  // How the next start goes: the pauses it takes (-1: it never completes), then running, or
  // stopped with `startExit` as its own exit code.
  int startPauses = 0;
  std::optional<std::uint32_t> startExit;
  std::uint32_t nextProcessId = 4000;
  std::uint16_t listenPort = 14443;  // 0: a running service listens nowhere

  ConnectedManager Connect() override;
  void Pause(int milliseconds) override;
  std::chrono::steady_clock::time_point Now() override {
    return std::chrono::steady_clock::time_point() + std::chrono::milliseconds(pausedMilliseconds);
  }
  void Started(FakeRecord& record) {
    record.processId = nextProcessId++;
    record.startPausesLeft = startPauses;
    record.state = ServiceState::kPending;
    if (startPauses == 0) Completed(record);
  }
  void Completed(FakeRecord& record) {
    record.state = startExit ? ServiceState::kStopped : ServiceState::kRunning;
    record.serviceExitCode = startExit.value_or(0);
  }

  // Removes services that are marked, stopped and no longer open.
  void Collect();
  SystemError Failure(const std::string& what) const {
    const auto found = failures.find(what);
    return found == failures.end() ? kNoError : found->second;
  }
};

class FakeService : public Service {
 public:
  FakeService(FakeServiceControl& control, std::string name) : control_(control), name_(name) {
    Record().openHandles++;
  }
  ~FakeService() override {
    if (!closed_) Release();
  }

  SystemError Stop() override {
    control_.calls.push_back("stop");
    FakeRecord& record = Record();
    if (record.state == ServiceState::kStopped) return 1062;  // ERROR_SERVICE_NOT_ACTIVE
    if (record.ignoresStop) {
      record.ignoresStop = false;
      return kNoError;
    }
    if (record.state == ServiceState::kRunning) {
      record.state = record.stopPauses == 0 ? ServiceState::kStopped : ServiceState::kPending;
      record.pausesLeft = record.stopPauses;
    }
    return kNoError;
  }
  std::optional<ServiceStatus> Status() override {
    control_.calls.push_back("query");
    const FakeRecord& record = Record();
    ServiceStatus status;
    status.state = record.state;
    if (record.state == ServiceState::kRunning) status.processId = record.processId;
    if (record.serviceExitCode != 0) {
      status.exitCode = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
      status.serviceExitCode = record.serviceExitCode;
    }
    return status;
  }
  SystemError Delete() override {
    control_.calls.push_back("delete");
    if (const SystemError error = control_.Failure("delete")) return error;
    if (Record().marked) return kErrorServiceMarkedForDelete;
    Record().marked = true;
    return kNoError;
  }
  SystemError Start() override {
    control_.calls.push_back("start");
    if (const SystemError error = control_.Failure("start")) return error;
    control_.Started(Record());
    return kNoError;
  }
  SystemError SetFailurePolicy(const FailurePolicy& policy) override {
    control_.calls.push_back("policy");
    if (const SystemError error = control_.Failure("policy")) return error;
    Record().failurePolicy = policy;
    return kNoError;
  }
  SystemError Close() override {
    control_.calls.push_back("close");
    closed_ = true;
    Release();
    return control_.Failure("close");
  }

 private:
  FakeRecord& Record() { return control_.services.at(name_); }
  void Release() {
    Record().openHandles--;
    control_.Collect();
  }

  FakeServiceControl& control_;
  std::string name_;
  bool closed_ = false;
};

class FakeServiceManager : public ServiceManager {
 public:
  explicit FakeServiceManager(FakeServiceControl& control) : control_(control) {}

  OpenedService Open(const std::string& name, ServiceAccess access) override {
    const char* kind = access == ServiceAccess::kFull     ? "open-full"
                       : access == ServiceAccess::kDelete ? "open-delete"
                                                          : "open-query";
    control_.calls.push_back(kind);
    if (!control_.services.count(name)) return {nullptr, kErrorServiceDoesNotExist};
    if (const SystemError error = control_.Failure(kind)) return {nullptr, error};
    return {std::make_unique<FakeService>(control_, name), kNoError};
  }

  OpenedService CreateAutoStart(const std::string& name, const std::string& program,
                                const std::string& /*arguments*/) override {
    control_.calls.push_back("create");
    if (const SystemError error = control_.Failure("create")) return {nullptr, error};
    const auto existing = control_.services.find(name);
    if (existing != control_.services.end()) {
      return {nullptr, existing->second.marked ? kErrorServiceMarkedForDelete : 1073};
    }
    control_.services[name].program = program;
    return {std::make_unique<FakeService>(control_, name), kNoError};
  }

 private:
  FakeServiceControl& control_;
};

inline ConnectedManager FakeServiceControl::Connect() {
  calls.push_back("connect");
  if (connectError) return {nullptr, connectError};
  return {std::make_unique<FakeServiceManager>(*this), kNoError};
}

inline void FakeServiceControl::Pause(int milliseconds) {
  pausedMilliseconds += milliseconds;
  for (auto& entry : services) {
    FakeRecord& record = entry.second;
    if (record.state == ServiceState::kPending && record.startPausesLeft > 0 &&
        --record.startPausesLeft == 0) {
      Completed(record);
    } else if (record.state == ServiceState::kPending && record.pausesLeft > 0 &&
               --record.pausesLeft == 0) {
      record.state = ServiceState::kStopped;
    }
  }
  Collect();
}

inline void FakeServiceControl::Collect() {
  for (auto it = services.begin(); it != services.end();) {
    const FakeRecord& record = it->second;
    if (record.marked && record.state == ServiceState::kStopped && record.openHandles == 0) {
      it = services.erase(it);
    } else {
      ++it;
    }
  }
}

// The running services' sockets and those of other programs; names known for some processes.
class FakeListenerTable : public ListenerTable {
 public:
  explicit FakeListenerTable(FakeServiceControl& control) : control_(control) {}
  std::vector<ListeningSocket> others;
  std::map<std::uint32_t, std::string> programs;

  Listeners Read() override {
    Listeners listeners{others, kNoError};
    for (const auto& entry : control_.services) {
      if (entry.second.state == ServiceState::kRunning && control_.listenPort != 0) {
        listeners.sockets.push_back(
            {kLoopbackAddress, control_.listenPort, entry.second.processId});
      }
    }
    return listeners;
  }
  std::optional<std::string> ProgramName(std::uint32_t processId) override {
    const auto found = programs.find(processId);
    if (found == programs.end()) return std::nullopt;
    return found->second;
  }

 private:
  FakeServiceControl& control_;
};

}  // namespace qardex::setup::testing
