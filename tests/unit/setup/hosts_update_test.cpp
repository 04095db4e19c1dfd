#include "setup/hosts_update.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setup/hosts_rewrite.h"

namespace qardex::setup {
namespace {

constexpr char kHost[] = "local.qardex.example";
const HostsPaths kPaths{"C:\\sys\\hosts", "C:\\sys\\hosts.bak", "C:\\sys\\hosts.new"};

// Files in memory; an operation listed in `failures` fails with its number.
class FakeFiles : public HostsFiles {
 public:
  std::map<std::string, std::string> files;
  std::map<std::string, SystemError> failures;  // "append", "read", "write:<path>", "replace"
  std::vector<std::string> calls;

  SystemError OpenForAppending(const std::string& path, std::uint64_t* size) override {
    calls.push_back("append");
    if (failures.count("append")) return failures["append"];
    *size = reportedSize ? *reportedSize : files[path].size();  // created when missing
    return kNoError;
  }
  SystemError ReadAll(const std::string& path, std::string* content) override {
    calls.push_back("read");
    if (failures.count("read")) return failures["read"];
    *content = files.at(path) + grows;
    return kNoError;
  }
  SystemError WriteWhole(const std::string& path, std::string_view content) override {
    calls.push_back("write:" + path);
    if (failures.count("write:" + path)) {
      files[path] = std::string(content.substr(0, content.size() / 2));  // a partial file
      return failures["write:" + path];
    }
    files[path] = std::string(content);
    return kNoError;
  }
  SystemError Replace(const std::string& target, const std::string& replacement) override {
    calls.push_back("replace");
    if (failures.count("replace")) return failures["replace"];
    files[target] = files.at(replacement);
    files.erase(replacement);
    return kNoError;
  }
  void Remove(const std::string& path) override {
    calls.push_back("remove:" + path);
    files.erase(path);
  }

  std::string grows;  // bytes that appear between the size check and the read
  std::optional<std::uint64_t> reportedSize;
};

struct Outcome {
  HostsOutcome outcome;
  std::string console;
};

Outcome Update(FakeFiles& files) {
  Outcome run;
  run.outcome = UpdateHostsFile(files, kPaths, kHost,
                                [&run](const std::string& line) { run.console += line; });
  return run;
}

TEST(HostsUpdate, AddsTheEntryAfterABackupOfTheOldContent) {
  FakeFiles files;
  files.files[kPaths.hosts] = "127.0.0.1 localhost\r\n10.0.0.10 local.qardex.example\r\n";
  files.files[kPaths.backup] = "an older backup";
  const std::string old = files.files[kPaths.hosts];
  const Outcome run = Update(files);
  EXPECT_EQ(run.outcome, HostsOutcome::kEntryAdded);
  EXPECT_EQ(run.console, "read file size 53\n");
  EXPECT_EQ(files.files[kPaths.backup], old);
  EXPECT_EQ(files.files[kPaths.hosts],
            "127.0.0.1 localhost\r\n#10.0.0.10 local.qardex.example\r\n" + HostsEntryLine(kHost));
  EXPECT_EQ(files.files.count(kPaths.staging), 0u);
  EXPECT_EQ(files.calls, (std::vector<std::string>{"append", "read", "write:" + kPaths.backup,
                                                   "write:" + kPaths.staging, "replace"}));
}

TEST(HostsUpdate, PresentEntryLeavesTheFileAloneButStillBacksItUp) {
  FakeFiles files;
  files.files[kPaths.hosts] = "10.0.0.10 local.qardex.example\n127.0.0.1 local.qardex.example\n";
  const std::string old = files.files[kPaths.hosts];
  EXPECT_EQ(Update(files).outcome, HostsOutcome::kEntryPresent);
  EXPECT_EQ(files.files[kPaths.hosts], old);
  EXPECT_EQ(files.files[kPaths.backup], old);
  EXPECT_EQ(files.calls.back(), "write:" + kPaths.backup);
}

TEST(HostsUpdate, MissingFileEndsUpHoldingJustTheEntry) {
  FakeFiles files;
  const Outcome run = Update(files);
  EXPECT_EQ(run.outcome, HostsOutcome::kEntryAdded);
  EXPECT_EQ(run.console, "read file size 0\n");
  EXPECT_EQ(files.files[kPaths.hosts], HostsEntryLine(kHost));
  EXPECT_EQ(files.files[kPaths.backup], "");
}

TEST(HostsUpdate, NoFailureLeavesTheHostsFileTouched) {
  const std::string old = "127.0.0.1 localhost\r\n";
  struct Case {
    const char* operation;
    const char* console;
  };
  for (const Case& c : {
           Case{"append", "Hosts File Open failed, error: 5.\n"},
           Case{"read", "read file size 21\nHosts File Read failed, error: 5.\n"},
           Case{"backup", "read file size 21\nHosts File Backup failed, error: 5.\n"},
           Case{"staging", "read file size 21\nHosts File Write failed, error: 5.\n"},
           Case{"replace", "read file size 21\nHosts File Write failed, error: 5.\n"},
       }) {
    FakeFiles files;
    files.files[kPaths.hosts] = old;
    const std::string operation = c.operation;
    const std::string key = operation == "backup"    ? "write:" + kPaths.backup
                            : operation == "staging" ? "write:" + kPaths.staging
                                                     : operation;
    files.failures[key] = 5;
    const Outcome run = Update(files);
    EXPECT_EQ(run.outcome, HostsOutcome::kFailed) << operation;
    EXPECT_EQ(run.console, c.console) << operation;
    EXPECT_EQ(files.files[kPaths.hosts], old) << operation;
    EXPECT_EQ(files.files.count(kPaths.staging), 0u) << operation;  // no leftovers
  }
}

TEST(HostsUpdate, AFileTooLargeForMemoryIsLeftAlone) {
  FakeFiles files;
  files.files[kPaths.hosts] = "127.0.0.1 localhost\n";
  files.reportedSize = std::uint64_t{1} << 40;
  const Outcome run = Update(files);
  EXPECT_EQ(run.outcome, HostsOutcome::kFailed);
  EXPECT_EQ(run.console, "read file size 2147483647\nmemory get failed, error: 8.\n");
  EXPECT_EQ(files.calls, std::vector<std::string>{"append"});
}

TEST(HostsUpdate, ContentThatGrewAfterTheSizeCheckIsStillRewrittenWhole) {
  FakeFiles files;
  files.files[kPaths.hosts] = "a\n";
  files.grows = std::string(5000, 'x') + "\n10.0.0.9  local.qardex.example\n";
  EXPECT_EQ(Update(files).outcome, HostsOutcome::kEntryAdded);
  EXPECT_EQ(files.files[kPaths.hosts], "a\n" + std::string(5000, 'x') +
                                           "\n#10.0.0.9  local.qardex.example\n" +
                                           HostsEntryLine(kHost));
}

}  // namespace
}  // namespace qardex::setup
