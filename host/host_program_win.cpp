#include "host/host_program.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "card/pcsc_api.h"
#include "card/reader_watch.h"
#include "common/call_threads.h"
#include "common/text_conversion.h"
#include "common/win_handles.h"
#include "host/std_streams_win.h"
#include "host/user_registration.h"
#include "inprocess/engine_sessions.h"
#include "inprocess/in_process_runner.h"
#include "inprocess/platform_win.h"
#include "messaging/host_registrations.h"
#include "messaging/page_channel.h"
#include "protocol/crypto_random.h"
#include "protocol/event_log_win.h"
#include "protocol/housekeeping.h"
#include "protocol/localhost_policy.h"
#include "protocol/page_protocol.h"
#include "protocol/service_log.h"
#include "protocol/session_table.h"
#include "protocol/user_token_win.h"
#include "sitelock/localhost_ports.h"

namespace qardex::host {

namespace {

constexpr std::chrono::seconds kChoresPeriod{1};

std::chrono::steady_clock::time_point SteadyNow() { return std::chrono::steady_clock::now(); }

int Report(const std::vector<RegistrationStep>& steps) {
  bool allDone = true;
  for (const RegistrationStep& step : steps) {
    std::printf("%s: %s%s\n", step.browser.c_str(),
                step.done ? "" : "failed: ", step.detail.c_str());
    allDone = allDone && step.done;
  }
  std::fflush(stdout);
  return allDone ? kHostExitInputEnded : kHostExitFailure;
}

std::filesystem::path ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
}

// This process: its user and Windows session own the sessions it opens.
service::Caller OwnCaller() {
  service::Caller caller;
  caller.processId = GetCurrentProcessId();
  caller.windowsSession = service::OwnSession().value_or(0);
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const common::KernelHandle owned(token);
    caller.userSid = service::UserSidOfToken(owned.get()).value_or("");
  }
  return caller;
}

int Serve(service::ServiceLog& log) {
  // First: from here on nothing else prints into the browser's pipe.
  static StandardOutput output(log);
  // What calls still running after the drain use is never destroyed: the process ends first.
  static inprocess::EngineSessions engine(inprocess::PlatformWithKeysAhead());
  static inprocess::PcscReaderEvents readers(card::SystemPcsc(), card::SystemStatusChange());
  static inprocess::InProcessRunner runner(engine, &readers);
  static service::SessionTable sessions(SteadyNow, service::CryptoRandom);
  static service::LocalhostPolicy localhostPorts(sitelock::ReadLocalhostPortsPolicy, SteadyNow,
                                                 log);
  static service::PageProtocol protocol(runner, sessions, service::kSessionCallWait,
                                        [] { return localhostPorts.Current(); });
  static service::Housekeeping chores(
      [](const std::vector<std::uint32_t>&) { sessions.ExpireIdle(); }, kChoresPeriod);
  static StandardInput input;
  static common::CallThreads threads;
  const messaging::ChannelEnd end = messaging::ServeChannel(
      input, output, protocol, OwnCaller(), log,
      [](std::function<void()> work) { return threads.Post(std::move(work)); });
  return end == messaging::ChannelEnd::Malformed ? kHostExitBadMessage : kHostExitInputEnded;
}

}  // namespace

int RunHost(int argc, wchar_t** argv) {
  // Its standard error, which the browser keeps; and the failures in the Application log too,
  // where a help desk finds them without the browser's log.
  static service::BothLogs log(std::make_unique<StandardError>(),
                               std::make_unique<service::EventLogSink>());
  int exitCode = kHostExitFailure;
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(common::WideToUtf8(argv[i]));
    if (args.size() == 1 && args[0] == "--register-user")
      return Report(RegisterUser(ProgramFolder()));
    if (args.size() == 1 && args[0] == "--unregister-user") return Report(UnregisterUser());
    if (!messaging::CallerFamily(args)) {
      log.Write(service::LogEvent::kHostCallerRefused,
                "refused: not started by the QARDEX extension (" +
                    (args.empty() ? std::string("no arguments") : args[0]) + ")");
      return kHostExitNotOurCaller;
    }
    exitCode = Serve(log);
  } catch (const std::exception& failure) {
    // Its engine that cannot start, among others.
    log.Write(service::LogEvent::kHostFailed,
              std::string("stopped: an unexpected failure (") + failure.what() + ")");
  } catch (...) {
    log.Write(service::LogEvent::kHostFailed, "stopped: an unexpected failure");
  }
  // Calls still running hold the engine and the card: end here, destroying nothing they use.
  std::_Exit(exitCode);
}

}  // namespace qardex::host
