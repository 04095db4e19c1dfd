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
  const auto deadline = control.Now() + std::chrono::milliseconds(wait.limitMilliseconds);
  for (;;) {
    const OpenedService probe = manager.Open(name, ServiceAccess::kQueryStatus);
    if (!probe.service && probe.error == kErrorServiceDoesNotExist) return true;
    if (control.Now() >= deadline) return false;
    control.Pause(wait.pollMilliseconds);
  }
}

namespace {

// The status once the service has left its start (running or stopped), or the last one seen
// when the limit has passed; nullopt when it cannot be queried.
std::optional<ServiceStatus> WaitUntilStarted(ServiceControl& control, Service& service,
                                              const StartWait& wait) {
  const auto deadline = control.Now() + std::chrono::milliseconds(wait.limitMilliseconds);
  for (;;) {
    const std::optional<ServiceStatus> status = service.Status();
    if (!status || status->state != ServiceState::kPending || control.Now() >= deadline) {
      return status;
    }
    control.Pause(wait.pollMilliseconds);
  }
}

std::string ProcessText(ListenerTable& listeners, std::uint32_t processId) {
  const std::optional<std::string> program = listeners.ProgramName(processId);
  return program ? Format(text::kProgramAndProcess, program->c_str(), processId)
                 : Format(text::kProcessOnly, processId);
}

// The line that ends the run, or nullopt when the service runs and holds its port.
std::optional<std::string> StartProblem(ServiceControl& control, ListenerTable& listeners,
                                        Service& service, const std::string& name,
                                        std::uint16_t port, const StartWait& wait) {
  const std::optional<ServiceStatus> status = WaitUntilStarted(control, service, wait);
  if (!status) return Format(text::kStatusFailed, name.c_str());
  const bool running = status->state == ServiceState::kRunning;
  const Listeners listening = listeners.Read();
  if (listening.error) return Format(text::kListenersUnknown, listening.error);
  const PortHolder holder = WhoHoldsPort(listening.sockets, port,
                                         running ? std::optional(status->processId) : std::nullopt);
  switch (holder.holding) {
    case PortHolding::kByService:
      return std::nullopt;
    case PortHolding::kByOther:
      return Format(text::kPortHeld, build::kLocalServiceAddress, port,
                    ProcessText(listeners, holder.processId).c_str(), name.c_str());
    case PortHolding::kFree:
      break;
  }
  if (running) {
    return Format(text::kNotListening, name.c_str(), status->processId, build::kLocalServiceAddress,
                  port);
  }
  if (status->state == ServiceState::kStopped) {
    return Format(text::kStoppedWhileStarting, name.c_str(), status->exitCode,
                  status->serviceExitCode);
  }
  return Format(text::kNotRunningInTime, name.c_str(), wait.limitMilliseconds / 1000);
}

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

int ReplaceAndStartService(ServiceControl& control, ListenerTable& listeners,
                           const std::string& name, const ServiceProgram& program,
                           const LineSink& console, const LineSink& log, const RemovalWait& wait,
                           const StartWait& startWait) {
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

  OpenedService created = manager.CreateAutoStart(name, program.path, program.arguments);
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
  if (const std::optional<std::string> problem =
          StartProblem(control, listeners, *service.service, name, program.port, startWait)) {
    return fail(*problem);
  }
  return 0;
}

}  // namespace qardex::setup
