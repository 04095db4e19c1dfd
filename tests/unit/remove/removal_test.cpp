#include "remove/removal.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "tests/unit/fakes/fake_service_control.h"
#include "remove/removal_texts.h"
#include "setup/install_layout.h"
#include "setup/install_texts.h"

namespace qardex::remove {
namespace {

using setup::Format;
using setup::ServiceState;
using setup::testing::FakeServiceControl;

constexpr char kFolder[] = "C:\\Program Files\\QARDEX";

struct Outcome {
  int result = 0;
  std::string console;  // the script's run shows as "<script>"
};

Outcome Remove(FakeServiceControl& control, const std::string& folder = kFolder) {
  Outcome run;
  run.result = RunRemoval(
      control, folder, [&run](const std::string& text) { run.console += text; },
      [&run](const std::string&) { run.console += "<script>"; });
  return run;
}

// The Big5 bytes of UTF-8 text, by the C library's converter.
std::string Big5(const std::string& utf8) {
  iconv_t converter = iconv_open("BIG5", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in = utf8;
  std::string out(in.size() * 2, '\0');
  char* inPointer = in.data();
  char* outPointer = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  const std::size_t converted = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<std::size_t>(-1)) return "<not convertible>";
  out.resize(out.size() - outLeft);
  return out;
}

TEST(RemovalTexts, AreTheBig5FormsOfTheMessages) {
  EXPECT_EQ(text::kNoRights, Big5("服務移除：權限不足，請用Widows管理員帳號 (%d)"));
  EXPECT_EQ(text::kAlreadyRemoved, Big5("服務移除：已經移除或從未安裝，無法重複移除服務 (%d)"));
  EXPECT_EQ(text::kRemovedRestart, Big5("服務移除：服務移除成功，須重新開機。"));
}

TEST(Removal, NeverInstalledReportsTheServiceGoneTwiceAndRunsTheScript) {
  FakeServiceControl control;
  const Outcome run = Remove(control);
  EXPECT_EQ(run.result, 0);
  const std::string gone = Format(text::kAlreadyRemoved, 1060);
  EXPECT_EQ(run.console, std::string("\n") + kFolder + "\n" + gone + "\n" +
                             "OpenService failed (1060)\n" + "\n" + gone + "\n" + "<script>");
}

TEST(Removal, RunningServiceIsStoppedAndDeletedBeforeTheScript) {
  FakeServiceControl control;
  control.services["mQARDEX"].state = ServiceState::kRunning;
  control.services["mQARDEX"].ignoresStop = true;
  const Outcome run = Remove(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.console, std::string("\n") + kFolder + "Service deleted successfully\n\n" +
                             text::kRemovedRestart + "<script>");
  EXPECT_EQ(control.services.count("mQARDEX"), 0u);
  EXPECT_EQ(control.calls,
            (std::vector<std::string>{"connect", "open-full", "stop", "query", "stop",
                                      "open-delete", "delete", "open-query"}));
}

TEST(Removal, WaitsUntilADeletedServiceHasStoppedAndGone) {
  FakeServiceControl control;
  control.services["mQARDEX"].state = ServiceState::kRunning;
  control.services["mQARDEX"].stopPauses = 3;
  EXPECT_EQ(Remove(control).result, 0);
  EXPECT_EQ(control.services.count("mQARDEX"), 0u);
}

TEST(Removal, WithoutTheManagerNothingElseHappens) {
  FakeServiceControl control;
  control.connectError = 5;
  const Outcome run = Remove(control);
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(run.console, std::string("\n") + kFolder + "\n" + Format(text::kNoRights, 5) + "\n");
}

TEST(Removal, RefusedDeletionStillRunsTheScript) {
  FakeServiceControl control;
  control.services["mQARDEX"].state = ServiceState::kRunning;
  control.failures["delete"] = 5;
  const Outcome run = Remove(control);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.console, std::string("\n") + kFolder + "DeleteService failed (5)\n<script>");
}

TEST(Removal, ScriptCommandTooLongStillRemovesTheServiceAndSkipsOnlyTheScript) {
  FakeServiceControl control;
  control.services["mQARDEX"].state = ServiceState::kRunning;
  const std::string folder(setup::kPathLimit, 'f');
  const Outcome run = Remove(control, folder);
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(control.services.count("mQARDEX"), 0u);
  EXPECT_EQ(run.console, "\n" + folder + "Service deleted successfully\n\n" +
                             text::kRemovedRestart + "\nCommand longer than 259 bytes: call \"" +
                             folder + "\\FoxUntrust.cmd\" \nFoxUntrust.cmd not run.\n");
}

}  // namespace
}  // namespace qardex::remove
