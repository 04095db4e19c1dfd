#include "setup/service_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/fakes/fake_service_control.h"

namespace qardex::setup {
namespace {

using testing::FakeRecord;
using testing::FakeServiceControl;

constexpr char kName[] = "mQARDEX";
constexpr char kProgram[] = "C:\\app\\mQARDEXService.exe";

struct Outcome {
  int result = 0;
  std::string console;
  std::string log;
};

Outcome Replace(FakeServiceControl& control) {
  Outcome run;
  run.result = ReplaceAndStartService(
      control, kName, kProgram, [&run](const std::string& line) { run.console += line; },
      [&run](const std::string& line) { run.log += line; });
  return run;
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
  EXPECT_EQ(control.calls, (std::vector<std::string>{
                               "connect", "open-full", "stop", "query", "open-delete", "delete",
                               "open-query", "create", "policy", "close", "open-full", "start"}));
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

}  // namespace
}  // namespace qardex::setup
