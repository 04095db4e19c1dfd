// Whether a log file that is already there may be written to or handed on: the decision over
// what the opened file is, apart from how the system reports it. A log in a folder where others
// may create files (the system's temporary folder) can be a file another user made first to read
// what is written, a link to a file elsewhere, or text they want a help desk to trust.
#pragma once

#include <cstdint>
#include <optional>

namespace qardex::setup {

enum class FileOwner {
  kAdministrators,  // SYSTEM, the Administrators group or TrustedInstaller
  kRunAccount,      // the account this program runs as
  kOther,
};

// Whose file a log may be.
enum class OwnerRule {
  kAnyone,                      // a log in the running user's own folder, written unelevated
  kAdministratorsOrRunAccount,  // written elevated, or read from the running user's own folder
  kAdministrators,              // read from a folder where any user may create files
};

struct LogFileFacts {
  bool reparsePoint = false;
  bool directory = false;
  std::uint32_t links = 1;
  FileOwner owner = FileOwner::kOther;
};

enum class LogFileProblem { kReparsePoint, kDirectory, kLinks, kForeignOwner };

// Why the opened file must not be used as the log; nothing when it may.
std::optional<LogFileProblem> JudgeLogFile(const LogFileFacts& facts, OwnerRule rule);

// A short English text: "a link (reparse point)", ...
const char* LogFileProblemText(LogFileProblem problem);

}  // namespace qardex::setup
