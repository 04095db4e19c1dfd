#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "diag/error_log.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::diag {
namespace {

using testing::LogCapture;

const LocalStamp kFeb9{2017, 2, 9, 9, 48, 49};

int LogAt(const LocalStamp& stamp, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = AppendErrorLogAt(stamp, format, args);
  va_end(args);
  return result;
}

TEST(ErrorLogFormat, StampsAndFileNameUseFixedWidths) {
  EXPECT_EQ(DateText(kFeb9), "20170209");
  EXPECT_EQ(TimeText(kFeb9), "094849");
  EXPECT_EQ(TimeText(LocalStamp{2020, 12, 31, 23, 5, 0}), "230500");
  EXPECT_EQ(LogFilePath("C:\\Temp\\", "20170209"), "C:\\Temp\\QARDEX.err.20170209.log");
}

TEST(ErrorLogFormat, PathThatDoesNotFitIsRefused) {
  const std::string suffix = "QARDEX.err.20170209.log";  // 23 bytes
  EXPECT_TRUE(LogFilePath(std::string(255 - suffix.size(), 'd'), "20170209").has_value());
  EXPECT_FALSE(LogFilePath(std::string(256 - suffix.size(), 'd'), "20170209").has_value());
}

TEST(ErrorLogFormat, EntryTextCutsAt256Bytes) {
  EXPECT_EQ(EntryText("Send Hello", "No error"), "Send Hello: No error");
  // A message of 256 bytes or more has no room for the suffix.
  EXPECT_EQ(EntryText(std::string(300, 'x'), "No error"), std::string(256, 'x'));
  EXPECT_EQ(EntryText(std::string(256, 'x'), "No error"), std::string(256, 'x'));
  // A suffix that does not fit is cut short.
  EXPECT_EQ(EntryText(std::string(250, 'x'), "No error"), std::string(250, 'x') + ": No e");
  EXPECT_EQ(EntryText(std::string(255, 'x'), "No error"), std::string(255, 'x') + ":");
  EXPECT_EQ(EntryText("", nullptr), ": ");
}

TEST(ErrorLog, AppendsOneStampedLinePerEntry) {
  LogCapture log;
  errno = 0;
  EXPECT_EQ(LogAt(kFeb9, "Send Hello"), 0);
  const std::string expected = " 20170209 094849 Send Hello: No error\n";
  EXPECT_EQ(LogCapture::Read(log.folder() + "/QARDEX.err.20170209.log"), expected);

  // A message ending in CR LF carries the suffix onto the next line; entries accumulate.
  LogAt(kFeb9, "Select HC OK!\r\n");
  const std::string text = LogCapture::Read(log.folder() + "/QARDEX.err.20170209.log");
  EXPECT_NE(text.find(" 20170209 094849 Select HC OK!\r\n: "), std::string::npos);
  EXPECT_EQ(text.rfind(expected, 0), 0u);
}

TEST(ErrorLogFormat, OnlyErrorNumberZeroHasAFixedText) {
  EXPECT_EQ(ErrorNumberText(0), "No error");
  EXPECT_EQ(ErrorNumberText(ENOENT), std::strerror(ENOENT));
}

TEST(ErrorLog, FormatsArgumentsAndCutsLongMessages) {
  LogCapture log;
  LogAt(kFeb9, "basic [%s] %d", "000012345678", 42);
  LogAt(kFeb9, "%s", std::string(300, 'y').c_str());
  const std::string text = log.Text();
  EXPECT_NE(text.find("basic [000012345678] 42: "), std::string::npos);
  EXPECT_NE(text.find(" " + std::string(256, 'y') + "\n"), std::string::npos);
  EXPECT_EQ(text.find(std::string(257, 'y')), std::string::npos);
}

TEST(ErrorLog, EntriesAcrossMidnightLandInTwoFiles) {
  LogCapture log;
  LogAt(LocalStamp{2017, 2, 9, 23, 59, 59}, "before");
  LogAt(LocalStamp{2017, 2, 10, 0, 0, 0}, "after");
  const auto files = log.Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "QARDEX.err.20170209.log");
  EXPECT_EQ(files[1].filename(), "QARDEX.err.20170210.log");
  EXPECT_NE(LogCapture::Read(files[1]).find(" 20170210 000000 after"), std::string::npos);
}

TEST(ErrorLog, UnwritableFolderDropsTheEntrySilently) {
  LogCapture log;
  setenv("TMPDIR", (log.folder() + "/missing/deeper").c_str(), 1);
  EXPECT_EQ(AppendErrorLog("lost %d", 1), 0);
  setenv("TMPDIR", std::string(300, 'd').c_str(), 1);  // path too long to build
  EXPECT_EQ(AppendErrorLog("lost %d", 2), 0);
  setenv("TMPDIR", log.folder().c_str(), 1);
  EXPECT_TRUE(log.Files().empty());
}

}  // namespace
}  // namespace qardex::diag
