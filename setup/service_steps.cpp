#include "setup/service_steps.h"

#include "setup/install_texts.h"

namespace qardex::setup {

SystemError RequestStop(ServiceManager& manager, const std::string& name) {
  OpenedService opened = manager.Open(name, ServiceAccess::kFull);
  if (!opened.service) return opened.error;
  opened.service->Stop();
  if (opened.service->State() == ServiceState::kRunning) opened.service->Stop();
  return kNoError;
}

bool WaitUntilGone(ServiceControl& control, ServiceManager& manager, const std::string& name,
                   const RemovalWait& wait) {
  for (int waited = 0;; waited += wait.pollMilliseconds) {
    const OpenedService probe = manager.Open(name, ServiceAccess::kQueryStatus);
    if (!probe.service && probe.error == kErrorServiceDoesNotExist) return true;
    if (waited >= wait.limitMilliseconds) return false;
    control.Pause(wait.pollMilliseconds);
  }
}

namespace {

// Deletes the earlier service; true when it is on its way out.
bool DeleteEarlier(ServiceManager& manager, const std::string& name, const LineSink& console) {
  OpenedService opened = manager.Open(name, ServiceAccess::kDelete);
  if (!opened.service) {
    console(Format(text::kOpenFailed, opened.error));
    return false;
  }
  const SystemError error = opened.service->Delete();
  if (error) {
    console(Format(text::kDeleteFailed, error));
    return error == kErrorServiceMarkedForDelete;
  }
  console(text::kDeleted);
  return true;
}

}  // namespace

int ReplaceAndStartService(ServiceControl& control, const std::string& name,
                           const std::string& program, const LineSink& console, const LineSink& log,
                           const RemovalWait& wait) {
  const auto fail = [&](const std::string& line) {
    console(line);
    log(line);
    return -1;
  };

  ConnectedManager connected = control.Connect();
  if (!connected.manager) return fail(Format(text::kManagerFailed, connected.error));
  console(text::kManagerOk);
  ServiceManager& manager = *connected.manager;

  RequestStop(manager, name);
  // A service marked for deletion stays until it has stopped and its last handle is closed;
  // creating it again before then fails.
  if (DeleteEarlier(manager, name, console)) WaitUntilGone(control, manager, name, wait);

  OpenedService created = manager.CreateAutoStart(name, program);
  if (!created.service) return fail(Format(text::kCreateFailed, name.c_str(), created.error));
  console(Format(text::kCreateOk, name.c_str()));
  // Before the first start, so that even a first run that fails is restarted. Without it the
  // service still runs: reported, not fatal.
  if (const SystemError error = created.service->SetFailurePolicy(kServiceFailurePolicy)) {
    const std::string line = Format(text::kFailureActionsFailed, name.c_str(), error);
    console(line);
    log(line);
  }
  const SystemError closeError = created.service->Close();
  console(closeError ? Format(text::kCloseFailed, closeError) : std::string(text::kCloseOk));

  OpenedService service = manager.Open(name, ServiceAccess::kFull);
  if (!service.service) return fail(Format(text::kReopenFailed, name.c_str(), service.error));
  if (const SystemError error = service.service->Start()) {
    return fail(Format(text::kStartFailed, name.c_str(), error));
  }
  console(text::kStartPending);
  return 0;
}

}  // namespace qardex::setup
