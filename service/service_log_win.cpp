#include "service/service_log_win.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <cstdio>
#include <optional>
#include <string>

#include "common/security_descriptor_win.h"
#include "protocol/event_log_win.h"
#include "setup/log_file_win.h"

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

struct Descriptor {
  common::LocalMemory<void> memory;
  PSID owner = nullptr;
  PACL dacl = nullptr;
};

std::optional<Descriptor> FolderDescriptor() {
  Descriptor made{common::SecurityDescriptorFromSddl(kFolderSddl)};
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  if (!made.memory || !GetSecurityDescriptorOwner(made.memory.get(), &made.owner, &defaulted) ||
      !GetSecurityDescriptorDacl(made.memory.get(), &present, &made.dacl, &defaulted) || !present) {
    return std::nullopt;
  }
  return made;
}

// The folder itself, never what a link there points to.
common::KernelHandle OpenFolder(const std::filesystem::path& folder) {
  return common::AdoptFileHandle(CreateFileW(
      folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | DELETE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool IsPlainFolder(HANDLE folder) {
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(folder, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The folder, made or opened; what is there under its name and is not a plain folder (a
// junction, a file) is moved aside first and a new folder made.
common::KernelHandle MakeFolder(const std::filesystem::path& folder, SECURITY_ATTRIBUTES& security,
                                std::string& problem) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!CreateDirectoryW(folder.c_str(), &security) && GetLastError() != ERROR_ALREADY_EXISTS) {
      problem = WithError("cannot make " + folder.u8string(), GetLastError());
      return nullptr;
    }
    common::KernelHandle handle = OpenFolder(folder);
    if (!handle) {
      problem = WithError("cannot open " + folder.u8string(), GetLastError());
      return nullptr;
    }
    if (IsPlainFolder(handle.get())) return handle;
    if (!setup::MoveAside(handle.get(), folder.wstring())) {
      problem = WithError(folder.u8string() + " is not a plain folder and cannot be moved aside",
                          GetLastError());
      return nullptr;
    }
  }
  problem = folder.u8string() + " is not a plain folder";
  return nullptr;
}

// Makes the folder, or takes over one that exists: owner and protected DACL of kFolderSddl, set
// through the opened folder, so no user can write there or change that. Nothing when it cannot.
std::optional<std::filesystem::path> SafeLogFolder(std::string& problem) {
  const std::optional<std::filesystem::path> programData = ProgramDataFolder();
  if (!programData) {
    problem = "the ProgramData folder is unknown";
    return std::nullopt;
  }
  const std::filesystem::path folder = *programData / kFolderName;
  const std::optional<Descriptor> descriptor = FolderDescriptor();
  if (!descriptor) {
    problem = WithError("cannot make the log folder's security descriptor", GetLastError());
    return std::nullopt;
  }
  SECURITY_ATTRIBUTES security{sizeof security, descriptor->memory.get(), FALSE};
  const common::KernelHandle handle = MakeFolder(folder, security, problem);
  if (!handle) return std::nullopt;
  const DWORD set = SetSecurityInfo(
      handle.get(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      descriptor->owner, nullptr, descriptor->dacl, nullptr);
  if (set != ERROR_SUCCESS) {
    problem = WithError("cannot restrict " + folder.u8string() + " to administrators", set);
    return std::nullopt;
  }
  return folder;
}

std::filesystem::path Generation(const std::filesystem::path& path, int generation) {
  return path.wstring() + L"." + std::to_wstring(generation);
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

FileServiceLog::FileServiceLog(std::filesystem::path file) : path_(std::move(file)) {}

bool FileServiceLog::Reopen() {
  // A file left from before the folder was safe is moved aside, and the log starts anew.
  setup::AppendLog log = setup::OpenLogForAppend(path_.wstring());
  file_ = std::move(log.file);
  if (file_ && !log.note.empty()) {
    const std::string line = Line("service log: " + log.note);
    DWORD written = 0;
    WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  return file_ != nullptr;
}

// The oldest generation goes; each other moves one up, the log becomes .1.
void FileServiceLog::RotateWhenFull() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_.get(), &size) ||
      static_cast<std::uintmax_t>(size.QuadPart) <= kServiceLogRotateBytes) {
    return;
  }
  file_.reset();
  for (int generation = kServiceLogGenerations; generation > 1; --generation) {
    MoveFileExW(Generation(path_, generation - 1).c_str(), Generation(path_, generation).c_str(),
                MOVEFILE_REPLACE_EXISTING);
  }
  MoveFileExW(path_.c_str(), Generation(path_, 1).c_str(), MOVEFILE_REPLACE_EXISTING);
  Reopen();
}

void FileServiceLog::Record(LogEvent, std::string_view event) {
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
    std::unique_ptr<ServiceLog> file;
    if (const auto folder = SafeLogFolder(problem)) {
      file = std::make_unique<FileServiceLog>(*folder / kFileName);
    } else {
      std::fprintf(stderr, "mQARDEXService: no service log: %s\n", problem.c_str());
      std::fflush(stderr);
      file = std::make_unique<NoServiceLog>();
    }
    return std::make_unique<BothLogs>(std::move(file), std::make_unique<EventLogSink>());
  } catch (...) {
  }
  return std::make_unique<NoServiceLog>();
}

}  // namespace qardex::service
