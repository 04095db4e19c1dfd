#include "setup/service_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/fakes/fake_service_control.h"

namespace qardex::setup {
namespace {

using testing::FakeListenerTable;
using testing::FakeRecord;
using testing::FakeServiceControl;

constexpr char kName[] = "mQARDEX";
constexpr char kProgram[] = "C:\\app\\mQARDEXService.exe";

struct Outcome {
  int result = 0;
  std::string console;
  std::string log;
};

Outcome Replace(FakeServiceControl& control, FakeListenerTable& listeners) {
  Outcome run;
  run.result = ReplaceAndStartService(
      control, listeners, kName, {kProgram, "", 14443},
      [&run](const std::string& line) { run.console += line; },
      [&run](const std::string& line) { run.log += line; });
  return run;
}

Outcome Replace(FakeServiceControl& control) {
  FakeListenerTable listeners(control);
  return Replace(control, listeners);
}

FakeRecord Running(int stopPauses = 0) {
  FakeRecord record;
  record.state = ServiceState::kRunning;
  record.program = "C:\\old\\mQARDEXService.exe";
  record.stopPauses = stopPauses;
  return record;
}

const std::string kCreatedAndStarted =
    "CreateService() for mQARDEX looks OK.\n"
    "CloseServiceHandle() is OK.\n"
    "Service start pending...\n";

TEST(ServiceReplacement, FirstInstallCreatesAndStarts) {
  FakeServiceControl control;
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.console,
            "OpenSCManager() looks OK.\nOpenService failed (1060)\n" + kCreatedAndStarted);
  EXPECT_EQ(run.log, "");
  ASSERT_EQ(control.services.count(kName), 1u);
  EXPECT_EQ(control.services[kName].program, kProgram);
  EXPECT_EQ(control.services[kName].state, ServiceState::kRunning);
  EXPECT_EQ(control.pausedMilliseconds, 0);
}

TEST(ServiceReplacement, EarlierServiceIsStoppedDeletedAndMadeAgain) {
  FakeServiceControl control;
  control.services[kName] = Running();
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.console,
            "OpenSCManager() looks OK.\nService deleted successfully\n" + kCreatedAndStarted);
  EXPECT_EQ(control.services[kName].program, kProgram);
  EXPECT_EQ(control.calls,
            (std::vector<std::string>{"connect", "open-full", "stop", "query", "open-delete",
                                      "delete", "open-query", "create", "policy", "close",
                                      "open-full", "start", "query"}));
  ASSERT_TRUE(control.services[kName].failurePolicy);
  const auto& steps = control.services[kName].failurePolicy->steps;
  EXPECT_EQ(steps.back().response, FailureResponse::kNone) << "a service failing at every start "
                                                              "must not restart forever";
}

TEST(ServiceReplacement, SecondStopOnlyWhenStillRunning) {
  FakeServiceControl control;
  control.services[kName] = Running();
  control.services[kName].ignoresStop = true;
  EXPECT_EQ(Replace(control).result, 0);
  EXPECT_EQ(std::vector<std::string>(control.calls.begin() + 1, control.calls.begin() + 5),
            (std::vector<std::string>{"open-full", "stop", "query", "stop"}));
}

TEST(ServiceReplacement, WaitsForASlowServiceToGoAway) {
  FakeServiceControl control;
  control.services[kName] = Running(8);  // stops after eight pauses of 250 ms
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(control.pausedMilliseconds, 2000);
  EXPECT_EQ(control.services[kName].program, kProgram);
}

TEST(ServiceReplacement, WaitIsBoundedAndCreationThenFails) {
  FakeServiceControl control;
  control.services[kName] = Running(-1);  // never stops
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(control.pausedMilliseconds, 30000);
  const std::string failure = "CreateService() mQARDEX failed, error: 1072\n";
  EXPECT_EQ(run.console, "OpenSCManager() looks OK.\nService deleted successfully\n" + failure);
  EXPECT_EQ(run.log, failure);
}

TEST(ServiceReplacement, ServiceAlreadyMarkedForDeletionIsAlsoWaitedFor) {
  FakeServiceControl control;
  control.services[kName] = Running(4);
  control.services[kName].marked = true;
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_NE(run.console.find("DeleteService failed (1072)\n"), std::string::npos);
  EXPECT_EQ(control.pausedMilliseconds, 1000);
}

TEST(ServiceReplacement, RefusedDeletionIsNotWaitedFor) {
  FakeServiceControl control;
  control.services[kName] = Running();
  control.failures["delete"] = 5;
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(control.pausedMilliseconds, 0);
  EXPECT_EQ(run.console,
            "OpenSCManager() looks OK.\nDeleteService failed (5)\n"
            "CreateService() mQARDEX failed, error: 1073\n");
}

TEST(ServiceReplacement, FailuresThatEndTheRunAreLogged) {
  struct Case {
    const char* failure;
    SystemError error;
    std::string lastLine;
  };
  for (const Case& c : {Case{"connect", 5, "OpenSCManager() failed, error: 5.\n"},
                        Case{"create", 1073, "CreateService() mQARDEX failed, error: 1073\n"},
                        Case{"start", 2, "StartService mQARDEX failed (2)\n"}}) {
    FakeServiceControl control;
    if (std::string(c.failure) == "connect") {
      control.connectError = c.error;
    } else {
      control.failures[c.failure] = c.error;
    }
    const Outcome run = Replace(control);
    EXPECT_EQ(run.result, -1) << c.failure;
    EXPECT_EQ(run.log, c.lastLine) << c.failure;
    ASSERT_GE(run.console.size(), c.lastLine.size());
    EXPECT_EQ(run.console.substr(run.console.size() - c.lastLine.size()), c.lastLine) << c.failure;
  }
}

TEST(ServiceReplacement, ReopeningTheNewServiceCanFail) {
  FakeServiceControl control;
  control.failures["open-full"] = 5;  // the stop step is passed over silently as well
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(run.console,
            "OpenSCManager() looks OK.\nOpenService failed (1060)\n"
            "CreateService() for mQARDEX looks OK.\nCloseServiceHandle() is OK.\n"
            "OpenService mQARDEX failed (5)\n");
  EXPECT_EQ(run.log, "OpenService mQARDEX failed (5)\n");
}

TEST(ServiceReplacement, AFailedCloseIsReportedAndTheRunGoesOn) {
  FakeServiceControl control;
  control.failures["close"] = 6;
  const Outcome run = Replace(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_NE(run.console.find("CloseServiceHandle() failed, Error: 6.\nService start pending...\n"),
            std::string::npos);
}

TEST(ServiceReplacement, AFailedFailurePolicyIsReportedAndTheRunGoesOn) {
  FakeServiceControl control;
  control.failures["policy"] = 6;
  const Outcome run = Replace(control);
  const std::string line = "ChangeServiceConfig2() failure actions for mQARDEX failed, error: 6.\n";
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.console,
            "OpenSCManager() looks OK.\nOpenService failed (1060)\n"
            "CreateService() for mQARDEX looks OK.\n" +
                line + "CloseServiceHandle() is OK.\nService start pending...\n");
  EXPECT_EQ(run.log, line);
}

// After the start: the service must come to run within the bound and hold 127.0.0.1:14443
// itself; anything else ends the run with one line naming what holds the port, if anyone does.
TEST(ServiceReplacement, TheStartedServiceMustRunAndHoldItsPort) {
  constexpr std::uint32_t kSquatter = 77;
  struct Case {
    const char* what;
    int startPauses;
    std::optional<std::uint32_t> startExit;
    std::vector<ListeningSocket> others;
    bool nameKnown;
    int result;
    std::string lastLine;  // empty: none after "Service start pending..."
    int pausedMilliseconds;
  };
  const ListeningSocket squatting{kLoopbackAddress, 14443, kSquatter};
  const std::string held =
      "127.0.0.1:14443 is held by squatter.exe (process 77), not by the "
      "service mQARDEX: stopped.\n";
  const Case cases[] = {
      {"runs after a while", 12, std::nullopt, {}, true, 0, "", 3000},
      {"never runs",
       -1,
       std::nullopt,
       {},
       true,
       -1,
       "Service mQARDEX did not run within 40 s: stopped.\n",
       40000},
      {"stops with its exit code",
       4,
       4u,
       {},
       true,
       -1,
       "Service mQARDEX stopped while starting, exit code 1066 (service-specific 4): stopped.\n",
       1000},
      {"gives up on a port another holds", 4, 4u, {squatting}, true, -1, held, 1000},
      {"another holds it while it runs", 0, std::nullopt, {squatting}, true, -1, held, 0},
      {"another holds every address",
       0,
       std::nullopt,
       {{kAnyAddress, 14443, kSquatter}},
       true,
       -1,
       held,
       0},
      {"the holder's name unreadable",
       0,
       std::nullopt,
       {squatting},
       false,
       -1,
       "127.0.0.1:14443 is held by process 77, not by the service mQARDEX: stopped.\n",
       0},
      {"owner unknown (0)",
       0,
       std::nullopt,
       {{kLoopbackAddress, 14443, 0}},
       true,
       -1,
       "127.0.0.1:14443 is held by process 0, not by the service mQARDEX: stopped.\n",
       0},
      {"others on other ports and addresses",
       0,
       std::nullopt,
       {{kLoopbackAddress, 8080, kSquatter}, {0x7f000002, 14443, kSquatter}},
       true,
       0,
       "",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeServiceControl control;
    control.startPauses = c.startPauses;
    control.startExit = c.startExit;
    FakeListenerTable listeners(control);
    listeners.others = c.others;
    if (c.nameKnown) listeners.programs[kSquatter] = "squatter.exe";
    const Outcome run = Replace(control, listeners);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.console, "OpenSCManager() looks OK.\nOpenService failed (1060)\n" +
                               kCreatedAndStarted + c.lastLine);
    EXPECT_EQ(run.log, c.lastLine);
    EXPECT_EQ(control.pausedMilliseconds, c.pausedMilliseconds);
  }
}

TEST(ServiceReplacement, ARunningServiceThatListensNowhereEndsTheRun) {
  FakeServiceControl control;
  control.listenPort = 0;
  EXPECT_EQ(Replace(control).log,
            "Service mQARDEX (process 4000) runs but does not listen on 127.0.0.1:14443: "
            "stopped.\n");
}

}  // namespace
}  // namespace qardex::setup
