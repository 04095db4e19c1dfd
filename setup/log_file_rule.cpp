#include "setup/log_file_rule.h"

namespace qardex::setup {

namespace {

bool OwnerAllowed(FileOwner owner, OwnerRule rule) {
  switch (rule) {
    case OwnerRule::kAnyone:
      return true;
    case OwnerRule::kAdministratorsOrRunAccount:
      return owner != FileOwner::kOther;
    case OwnerRule::kAdministrators:
      return owner == FileOwner::kAdministrators;
  }
  return false;
}

}  // namespace

std::optional<LogFileProblem> JudgeLogFile(const LogFileFacts& facts, OwnerRule rule) {
  if (facts.reparsePoint) return LogFileProblem::kReparsePoint;
  if (facts.directory) return LogFileProblem::kDirectory;
  // Another name of the same file may lie anywhere on the volume: what is written reaches it.
  if (facts.links != 1) return LogFileProblem::kLinks;
  if (!OwnerAllowed(facts.owner, rule)) return LogFileProblem::kForeignOwner;
  return std::nullopt;
}

const char* LogFileProblemText(LogFileProblem problem) {
  switch (problem) {
    case LogFileProblem::kReparsePoint:
      return "a link (reparse point)";
    case LogFileProblem::kDirectory:
      return "a folder";
    case LogFileProblem::kLinks:
      return "a file with more than one name (hard link)";
    case LogFileProblem::kForeignOwner:
      return "owned by another account";
  }
  return "?";
}

}  // namespace qardex::setup
