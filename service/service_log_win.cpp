#include "service/service_log_win.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <cstdio>
#include <optional>
#include <string>

#include "service/security_descriptor_win.h"

namespace qardex::service {

namespace {

constexpr wchar_t kFolderName[] = L"QARDEX";
constexpr wchar_t kFileName[] = L"mQARDEXService.log";
// Owned by Administrators; SYSTEM and Administrators may do anything, users read and list.
constexpr wchar_t kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
// An event is a short line of our own; anything longer is cut.
constexpr std::size_t kLongestEvent = 1000;

struct TaskMemoryFreer {
  void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};

std::optional<std::filesystem::path> ProgramDataFolder() {
  wchar_t* raw = nullptr;
  const HRESULT found = SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &raw);
  const std::unique_ptr<wchar_t, TaskMemoryFreer> path(raw);
  if (SUCCEEDED(found) && path) return std::filesystem::path(path.get());
  wchar_t value[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableW(L"ProgramData", value, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  return std::filesystem::path(std::wstring(value, length));
}

std::string WithError(std::string what, DWORD error) {
  return what + " (error " + std::to_string(error) + ")";
}

// Makes the folder, or takes over one that exists: owner and protected DACL of kFolderSddl, so
// no user can write there or change that. Nothing when it cannot.
std::optional<std::filesystem::path> SafeLogFolder(std::string& problem) {
  const std::optional<std::filesystem::path> programData = ProgramDataFolder();
  if (!programData) {
    problem = "the ProgramData folder is unknown";
    return std::nullopt;
  }
  const std::filesystem::path folder = *programData / kFolderName;
  const LocalMemory<void> descriptor = SecurityDescriptorFromSddl(kFolderSddl);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  if (!descriptor || !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) {
    problem = WithError("cannot make the log folder's security descriptor", GetLastError());
    return std::nullopt;
  }
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  if (!CreateDirectoryW(folder.c_str(), &security) && GetLastError() != ERROR_ALREADY_EXISTS) {
    problem = WithError("cannot make " + folder.u8string(), GetLastError());
    return std::nullopt;
  }
  // A link planted there would lead the writes elsewhere.
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    problem = folder.u8string() + " is not a plain folder";
    return std::nullopt;
  }
  std::wstring name = folder.wstring();
  const DWORD set = SetNamedSecurityInfoW(
      name.data(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
  if (set != ERROR_SUCCESS) {
    problem = WithError("cannot restrict " + folder.u8string() + " to administrators", set);
    return std::nullopt;
  }
  return folder;
}

KernelHandle OpenForAppend(const std::filesystem::path& path, DWORD disposition) {
  return AdoptFileHandle(
      CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A plain file with one name: not a link to a file elsewhere.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(file, &information) && information.nNumberOfLinks == 1 &&
         !(information.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

std::string LocalTimestamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return text;
}

// One line, whatever the event holds.
std::string Line(std::string_view event) {
  std::string line = LocalTimestamp();
  line.push_back(' ');
  for (const char c : event.substr(0, kLongestEvent)) {
    const auto byte = static_cast<unsigned char>(c);
    line.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
  }
  line += "\r\n";
  return line;
}

}  // namespace

FileServiceLog::FileServiceLog(std::filesystem::path file)
    : path_(std::move(file)), previous_(path_.wstring() + L".1") {}

bool FileServiceLog::Reopen() {
  file_ = OpenForAppend(path_, OPEN_ALWAYS);
  if (file_ && IsPlainFile(file_.get())) return true;
  // Left from before the folder was safe: replace it by a file of our own.
  file_.reset();
  DeleteFileW(path_.c_str());
  file_ = OpenForAppend(path_, CREATE_NEW);
  if (file_ && IsPlainFile(file_.get())) return true;
  file_.reset();
  return false;
}

void FileServiceLog::RotateWhenFull() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_.get(), &size) ||
      static_cast<std::uintmax_t>(size.QuadPart) <= kServiceLogRotateBytes) {
    return;
  }
  file_.reset();
  MoveFileExW(path_.c_str(), previous_.c_str(), MOVEFILE_REPLACE_EXISTING);
  Reopen();
}

void FileServiceLog::Write(std::string_view event) {
  try {
    const std::string line = Line(event);
    std::lock_guard<std::mutex> hold(lock_);
    if (!file_ && !Reopen()) return;
    RotateWhenFull();
    if (!file_) return;
    DWORD written = 0;
    if (!WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
      file_.reset();  // opened again for the next line
    }
  } catch (...) {
    // A line that cannot be made is lost; the service goes on.
  }
}

std::optional<std::filesystem::path> ServiceLogPath() {
  const std::optional<std::filesystem::path> programData = ProgramDataFolder();
  if (!programData) return std::nullopt;
  return *programData / kFolderName / kFileName;
}

std::unique_ptr<ServiceLog> OpenServiceLog() {
  try {
    std::string problem;
    if (const auto folder = SafeLogFolder(problem)) {
      return std::make_unique<FileServiceLog>(*folder / kFileName);
    }
    std::fprintf(stderr, "mQARDEXService: no service log: %s\n", problem.c_str());
    std::fflush(stderr);
  } catch (...) {
  }
  return std::make_unique<NoServiceLog>();
}

}  // namespace qardex::service
