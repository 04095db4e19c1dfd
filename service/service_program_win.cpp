#include "service/service_program.h"

#include <winsock2.h>

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "keymint/certificate_set.h"
#include "keymint/program_folder.h"
#include "qardex_constants.h"
#include "https/caller_lookup.h"
#include "protocol/crypto_random.h"
#include "protocol/housekeeping.h"
#include "https/https_server_win.h"
#include "https/listen_retry.h"
#include "protocol/localhost_policy.h"
#include "service/certificate_set_win.h"
#include "service/service_chores.h"
#include "service/service_log_win.h"
#include "protocol/session_table.h"
#include "https/system_view_win.h"
#include "broker/worker_pool.h"
#include "broker/worker_session.h"
#include "broker/worker_starter_win.h"

namespace qardex::service {

namespace {

// How often idle workers are retired and expired sessions dropped.
constexpr std::chrono::seconds kHousekeepingPeriod{1};

std::chrono::steady_clock::time_point SteadyNow() { return std::chrono::steady_clock::now(); }

// One line on standard error and, once there is one, in the service's log.
void Complain(const std::string& line, ServiceLog* log = nullptr) {
  std::fprintf(stderr, "mQARDEXService: %s\n", line.c_str());
  std::fflush(stderr);
  if (log != nullptr) log->Write(LogEvent::kNotStarted, "service not started: " + line);
}

std::optional<std::string> ReadCredentialFile(const std::filesystem::path& path, ServiceLog& log) {
  SetFile file = ReadSetFile(path);
  if (!file.text) Complain(file.error, &log);
  return std::move(file.text);
}

struct WinsockSession {
  bool started = false;
  WinsockSession() {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started) WSACleanup();
  }
};

WorkerLimits PoolLimits(const ServiceOptions& options) {
  WorkerLimits limits;
  if (options.workerIdle) limits.idle = *options.workerIdle;
  return limits;
}

// What the connection threads work with, owned jointly by them and the service: a thread still
// inside a call when the service stops keeps it alive until the call ends. Members end in
// reverse order: the router and the sessions (which tell their workers) before the pool.
struct Serving {
  Serving(SslContextPtr context, std::unique_ptr<ServiceLog> serviceLog,
          const ServiceOptions& options)
      : tls(std::move(context)),
        log(std::move(serviceLog)),
        pool(starter, *log, SteadyNow, PoolLimits(options)),
        provider(pool),
        sessions(SteadyNow, CryptoRandom),
        localhostPorts(sitelock::ReadLocalhostPortsPolicy, SteadyNow, *log),
        router(provider, sessions, *log, kSessionCallWait, SteadyNow,
               [this] { return localhostPorts.Current(); }) {}
  CurrentTls tls;
  WindowsSystemView system;
  PipeWorkerStarter starter;
  std::unique_ptr<ServiceLog> log;
  WorkerPool pool;
  WorkerProvider provider;
  SessionTable sessions;
  LocalhostPolicy localhostPorts;
  Router router;
};

// The running service's chores, for the service manager's sign-off notices.
std::mutex g_runningLock;
Housekeeping* g_running = nullptr;

// Makes the chores reachable from EndWindowsSession while the service runs.
class RunningRegistration {
 public:
  explicit RunningRegistration(Housekeeping& housekeeping) {
    std::lock_guard<std::mutex> hold(g_runningLock);
    g_running = &housekeeping;
  }
  ~RunningRegistration() {
    std::lock_guard<std::mutex> hold(g_runningLock);
    g_running = nullptr;
  }
  RunningRegistration(const RunningRegistration&) = delete;
  RunningRegistration& operator=(const RunningRegistration&) = delete;
};

int Serve(const std::atomic<bool>& stop, const std::function<void()>& ready,
          const ServiceOptions& options) {
  std::unique_ptr<ServiceLog> log = OpenServiceLog();
  const std::filesystem::path folder = keymint::ProgramFolder();
  OPENSSL_init_ssl(0, nullptr);
  ServiceCertificates certificateSet(folder, *log, options.browserPolicies);
  certificateSet.RenewWhenUnusable();
  const auto certificates = ReadCredentialFile(folder / keymint::kServerCertificateFile, *log);
  const auto key = ReadCredentialFile(folder / keymint::kServerKeyFile, *log);
  if (!certificates || !key) return kExitCertificateFiles;
  TlsContext tls = MakeTlsContext(*certificates, *key);
  if (!tls.context) {
    Complain(tls.error, log.get());
    return kExitCertificateFiles;
  }

  WinsockSession winsock;
  if (!winsock.started) {
    Complain("cannot start Windows Sockets", log.get());
    return kExitStartup;
  }
  auto serving = std::make_shared<Serving>(std::move(tls.context), std::move(log), options);
  certificateSet.Switching(serving->tls);
  HttpsServer server(
      serving->tls, serving->router,
      [&system = serving->system](std::uint16_t peerPort, std::uint16_t ourPort) {
        return IdentifyCaller(system, peerPort, ourPort);
      },
      {}, serving);
  std::string error;
  const bool listening = RetryWithin(
      [&server, &error] { return server.Listen(build::kLocalServicePort, error); }, stop, SteadyNow,
      [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); });
  if (!listening) {
    Complain(error, serving->log.get());
    return kExitListen;
  }
  {
    Housekeeping housekeeping(
        [&serving](const std::vector<std::uint32_t>& signedOff) {
          RunChores(signedOff, serving->pool, serving->sessions, serving->router);
        },
        kHousekeepingPeriod);
    const RunningRegistration registration(housekeeping);
    const RenewalThread renewals(certificateSet.Renewal());
    serving->localhostPorts.Current();  // the policy in force at start goes to the log
    serving->log->Write(LogEvent::kStarted, "service started (version " QARDEX_PRODUCT_VERSION
                                            ", port " +
                                                std::to_string(build::kLocalServicePort) + ")");
    ready();
    server.Serve(stop);
  }
  // The listener has drained: calls still running end with their workers.
  serving->pool.StopAll();
  serving->router.FlushRefusals(true);
  serving->log->Write(LogEvent::kStopped, "service stopped");
  return kExitOk;
}

}  // namespace

int RunService(const std::atomic<bool>& stop, const std::function<void()>& ready,
               const ServiceOptions& options) {
  try {
    return Serve(stop, ready, options);
  } catch (const std::exception& problem) {
    Complain(problem.what());
  } catch (...) {
    Complain("unexpected failure");
  }
  return kExitStartup;
}

void EndWindowsSession(std::uint32_t windowsSession) {
  std::lock_guard<std::mutex> hold(g_runningLock);
  if (g_running != nullptr) g_running->SignedOff(windowsSession);
}

}  // namespace qardex::service
