#include "setup/log_file_win.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "setup/narrow_text_win.h"
#include "setup/run_account_win.h"

namespace qardex::setup {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Not through a link, and a folder planted under the name opens too (so it can be moved).
constexpr DWORD kOpenFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD kAppendAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;

FileOwner OwnerOf(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &raw) != ERROR_SUCCESS) {
    return FileOwner::kOther;
  }
  const common::LocalMemory<> descriptor(raw);
  if (owner == nullptr) return FileOwner::kOther;
  if (IsWellKnownSid(owner, WinLocalSystemSid) ||
      IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
    return FileOwner::kAdministrators;
  }
  return IsRunAccount(owner) ? FileOwner::kRunAccount : FileOwner::kOther;
}

common::KernelHandle Open(const std::wstring& path, DWORD access, DWORD disposition,
                          SECURITY_ATTRIBUTES* security) {
  return common::AdoptFileHandle(CreateFileW(path.c_str(), access, kShareAll, security, disposition,
                                             FILE_ATTRIBUTE_NORMAL | kOpenFlags, nullptr));
}

std::optional<LogFileProblem> Judge(HANDLE file, OwnerRule rule) {
  const std::optional<LogFileFacts> facts = FactsOfOpenFile(file);
  // A file the system says nothing about is treated like a link: not used.
  return facts ? JudgeLogFile(*facts, rule) : LogFileProblem::kReparsePoint;
}

std::string Narrow(const std::wstring& wide) { return ToNarrow(wide).value_or("?"); }

// "<name>.<tick>-<process>.aside": unique for this run, in the same folder.
std::wstring AsideName(const std::wstring& path) {
  return path + L"." + std::to_wstring(GetTickCount64()) + L"-" +
         std::to_wstring(GetCurrentProcessId()) + L".aside";
}

}  // namespace

std::optional<std::wstring> MoveAside(HANDLE file, const std::wstring& path) {
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = GetFullPathNameW(AsideName(path).c_str(), ARRAYSIZE(full), full, nullptr);
  if (length == 0 || length >= ARRAYSIZE(full)) return std::nullopt;
  const std::wstring aside(full, length);
  const std::wstring target = L"\\??\\" + aside;
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  target.copy(rename->FileName, target.size());
  if (!SetFileInformationByHandle(file, FileRenameInfo, rename,
                                  static_cast<DWORD>(buffer.size()))) {
    return std::nullopt;
  }
  return aside;
}

std::optional<LogFileFacts> FactsOfOpenFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return std::nullopt;
  LogFileFacts facts;
  facts.reparsePoint = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.links = information.nNumberOfLinks;
  facts.owner = OwnerOf(file);
  return facts;
}

AppendLog OpenLogForAppend(const std::wstring& path) {
  const bool elevated = RunsElevated();
  const OwnerRule rule = elevated ? OwnerRule::kAdministratorsOrRunAccount : OwnerRule::kAnyone;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (elevated && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                      kProtectedLogSddl, SDDL_REVISION_1, &raw, nullptr)) {
    return {nullptr, "no protected descriptor (error " + std::to_string(GetLastError()) + ")"};
  }
  const common::LocalMemory<> descriptor(raw);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  SECURITY_ATTRIBUTES* made = elevated ? &security : nullptr;

  AppendLog log;
  log.file = Open(path, kAppendAccess | DELETE, OPEN_ALWAYS, made);
  // Someone holds it without delete sharing: it can still be judged, not moved.
  if (!log.file && GetLastError() == ERROR_SHARING_VIOLATION) {
    log.file = Open(path, kAppendAccess, OPEN_ALWAYS, made);
  }
  if (!log.file) {
    log.note = "cannot open " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
    return log;
  }
  const std::optional<LogFileProblem> problem = Judge(log.file.get(), rule);
  if (!problem) return log;
  const std::optional<std::wstring> aside = MoveAside(log.file.get(), path);
  const DWORD moveError = GetLastError();
  log.file.reset();
  const std::string what = Narrow(path) + " was " + LogFileProblemText(*problem);
  if (!aside) {
    log.note = what + " and cannot be moved aside (error " + std::to_string(moveError) + ")";
    return log;
  }
  log.note = what + ", moved aside to " + Narrow(*aside);
  log.file = Open(path, kAppendAccess, CREATE_NEW, made);
  if (!log.file || Judge(log.file.get(), rule)) {
    log.file.reset();
    log.note += "; no new log could be made";
  }
  return log;
}

ReadLog OpenLogForReading(const std::wstring& path, OwnerRule rule) {
  ReadLog log;
  log.file = Open(path, GENERIC_READ | READ_CONTROL, OPEN_EXISTING, nullptr);
  if (!log.file) {
    log.refusal = "cannot be opened (error " + std::to_string(GetLastError()) + ")";
    return log;
  }
  if (const std::optional<LogFileProblem> problem = Judge(log.file.get(), rule)) {
    log.file.reset();
    log.refusal = std::string("not taken: ") + LogFileProblemText(*problem);
  }
  return log;
}

}  // namespace qardex::setup
