// Log files in folders where others may have been first: opened without following links, judged
// by the opened handle (setup/log_file_rule.h), and a file that fails is moved aside under a
// unique name beside it before a new one is made.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "setup/log_file_rule.h"
#include "common/win_handles.h"

namespace qardex::setup {

// What the opened file is; nothing when the system does not say.
std::optional<LogFileFacts> FactsOfOpenFile(HANDLE file);

// Renames the opened file or folder itself (a link, not its target) to a unique name beside
// `path`, never over another file; the new path, or nothing when it could not be moved.
std::optional<std::wstring> MoveAside(HANDLE file, const std::wstring& path);

// SYSTEM and Administrators may do anything, users may read; nothing inherited.
inline constexpr wchar_t kProtectedLogSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

struct AppendLog {
  common::KernelHandle file;  // null when there is no log to write
  std::string note;  // what was moved aside, or why there is no log; empty when all went well
};

// Opens `path` for appending (FILE_APPEND_DATA; not inherited by child processes). An elevated
// run judges the owner and makes a new file with kProtectedLogSddl; an unelevated one leaves
// the owner alone and lets the folder's permissions pass on.
AppendLog OpenLogForAppend(const std::wstring& path);

struct ReadLog {
  common::KernelHandle file;  // null when the file is not taken
  std::string refusal;
};

// Opens an existing log for reading when it passes `rule`.
ReadLog OpenLogForReading(const std::wstring& path, OwnerRule rule);

}  // namespace qardex::setup
