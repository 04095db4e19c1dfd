// A scripted Service Control Manager for the installer's and the uninstaller's sequences. It
// keeps the rules the real one follows: a deleted service stays (marked for deletion) until it
// has stopped and its last handle is closed; a stop takes `stopPauses` pauses to complete.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setup/service_manager.h"

namespace qardex::setup::testing {

struct FakeRecord {
  ServiceState state = ServiceState::kStopped;
  std::string program;
  bool marked = false;
  int stopPauses = 0;        // pauses a stop takes; -1: never stops
  bool ignoresStop = false;  // still reports running right after a stop request
  int pausesLeft = 0;
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

  ConnectedManager Connect() override;
  void Pause(int milliseconds) override;

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
  std::optional<ServiceState> State() override {
    control_.calls.push_back("query");
    return Record().state;
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
    Record().state = ServiceState::kRunning;
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

  OpenedService CreateAutoStart(const std::string& name, const std::string& program) override {
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
    if (record.state == ServiceState::kPending && record.pausesLeft > 0 &&
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

}  // namespace qardex::setup::testing
