// The support bundle: what a help desk needs to see why the set-up does not work, and nothing
// about the card holder. Daily logs are masked before they enter the archive.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "checkup/bundle_probes_win.h"
#include "checkup/diagnose_win.h"
#include "checkup/log_masking.h"
#include "checkup/stored_zip.h"
#include "checkup/system_probes_win.h"
#include "diag/temp_directory.h"
#include "engine/session.h"
#include "setup/install_layout.h"
#include "setup/log_file_win.h"
#include "setup/narrow_text_win.h"

namespace qardex::checkup {

namespace {

// The daily logs of the last week of use.
constexpr std::size_t kDailyLogs = 7;
// Larger files are cut to their last part: the newest entries say most.
constexpr std::uintmax_t kLargestFile = 4 * 1024 * 1024;
constexpr char kDailyLogPrefix[] = "QARDEX.err.";
constexpr char kDailyLogSuffix[] = ".log";

// The file's last kLargestFile bytes, read through the handle.
std::optional<std::string> ReadTail(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return std::nullopt;
  const auto whole = static_cast<std::uintmax_t>(size.QuadPart);
  LARGE_INTEGER start{};
  start.QuadPart = static_cast<LONGLONG>(whole > kLargestFile ? whole - kLargestFile : 0);
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::nullopt;
  std::string text(static_cast<std::size_t>(whole - static_cast<std::uintmax_t>(start.QuadPart)),
                   '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    DWORD read = 0;
    if (!ReadFile(file, text.data() + got, static_cast<DWORD>(text.size() - got), &read, nullptr)) {
      return std::nullopt;
    }
    if (read == 0) break;  // it shrank meanwhile
    got += read;
  }
  text.resize(got);
  return text;
}

std::optional<std::string> ReadTail(const std::filesystem::path& path) {
  const common::KernelHandle file = common::AdoptFileHandle(CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  return ReadTail(file.get());
}

void AddFile(std::vector<ZipEntry>& entries, std::string name, const std::filesystem::path& path) {
  const std::optional<std::string> text = ReadTail(path);
  entries.push_back(
      {std::move(name), text ? *text : "(cannot be read: " + path.u8string() + ")\r\n"});
}

// The installer logs to the temporary folder of whoever ran it: this user, or LocalSystem (the
// system's own, where any user may create files) for the Windows Installer package. A log is
// taken only as the installer would have written it; the entry says why one was not.
void AddInstallLog(std::vector<ZipEntry>& entries, const std::optional<std::string>& userTemp) {
  struct Place {
    std::string folder;
    setup::OwnerRule rule;
  };
  std::vector<Place> places;
  if (userTemp) places.push_back({*userTemp, setup::OwnerRule::kAdministratorsOrRunAccount});
  char windows[MAX_PATH + 1] = {};
  const UINT windowsLength = GetWindowsDirectoryA(windows, MAX_PATH);
  if (windowsLength > 0 && windowsLength < MAX_PATH) {
    places.push_back(
        {std::string(windows, windowsLength) + "\\Temp\\", setup::OwnerRule::kAdministrators});
  }
  std::string refusals;
  for (const Place& place : places) {
    setup::Overflow overflow;
    const std::optional<std::string> path = setup::InstallLogPath(place.folder, &overflow);
    if (!path || !std::filesystem::exists(*path)) continue;
    const setup::ReadLog log = setup::OpenLogForReading(setup::ToWide(*path), place.rule);
    const std::optional<std::string> text =
        log.file ? ReadTail(log.file.get()) : std::optional<std::string>();
    if (text) {
      entries.push_back({setup::kInstallLogName, *text});
      return;
    }
    refusals += "(" + *path + " " + (log.file ? "cannot be read" : log.refusal) + ")\r\n";
  }
  if (!refusals.empty()) entries.push_back({setup::kInstallLogName, refusals});
}

// The newest daily logs by their names (the date is in the name), oldest first.
std::vector<std::filesystem::path> RecentDailyLogs(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> logs;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().u8string();
    const std::size_t prefix = sizeof kDailyLogPrefix - 1;
    const std::size_t suffix = sizeof kDailyLogSuffix - 1;
    if (name.size() == prefix + 8 + suffix && name.compare(0, prefix, kDailyLogPrefix) == 0 &&
        name.compare(prefix + 8, suffix, kDailyLogSuffix) == 0) {
      logs.push_back(it->path());
    }
  }
  std::sort(logs.begin(), logs.end());
  if (logs.size() > kDailyLogs) logs.erase(logs.begin(), logs.end() - kDailyLogs);
  return logs;
}

std::string PolicyText() {
  const PolicyFacts policies = ProbePolicies();
  std::string text;
  const auto list = [&text](const std::string& title, const std::vector<std::string>& values) {
    text += title + ":\r\n";
    for (const std::string& value : values) text += "  " + value + "\r\n";
  };
  list("Chrome LocalNetworkAccessAllowedForUrls", policies.chromeOrigins);
  list("Edge LocalNetworkAccessAllowedForUrls", policies.edgeOrigins);
  list("Chrome LoopbackNetworkAllowedForUrls", policies.chromeLoopbackOrigins);
  list("Edge LoopbackNetworkAllowedForUrls", policies.edgeLoopbackOrigins);
  for (const BlockedList& blocked : policies.blocked) {
    list(blocked.browser + " " + blocked.policy, blocked.patterns);
  }
  list("Firefox Certificates\\Install", policies.firefoxInstalls);
  return text;
}

std::string VersionText() {
  std::string text = "product " QARDEX_PRODUCT_VERSION "\r\ninterface ";
  text += engine::kComponentVersion;
  text += "\r\n";
  // GetVersionEx reports what the program's manifest allows; RtlGetVersion the real one.
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
    text += "windows " + std::to_string(info.dwMajorVersion) + "." +
            std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber) + "\r\n";
  }
  return text;
}

std::pair<std::uint16_t, std::uint16_t> DosNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const auto time =
      static_cast<std::uint16_t>(now.wHour << 11 | now.wMinute << 5 | now.wSecond / 2);
  const auto date =
      static_cast<std::uint16_t>(std::max(now.wYear - 1980, 0) << 9 | now.wMonth << 5 | now.wDay);
  return {time, date};
}

}  // namespace

int WriteBundle(const std::filesystem::path& zip,
                const std::optional<std::filesystem::path>& serviceLog) {
  std::vector<ZipEntry> entries;
  entries.push_back({"checks.txt", ReportText(RunChecks([](const Findings&) {}))});
  entries.push_back({"versions.txt", VersionText()});
  entries.push_back({"policies.txt", PolicyText()});
  entries.push_back({"browsers.txt", BrowserVersionsText(ProbeInstalledPrograms())});
  entries.push_back({"proxy.txt", ProxySettingsText(ProbeUserProxy(), ProbeMachineProxy())});
  const std::optional<std::string> temp = diag::TempDirectory();
  AddInstallLog(entries, temp);
  if (serviceLog && std::filesystem::exists(*serviceLog)) {
    AddFile(entries, serviceLog->filename().u8string(), *serviceLog);
  }
  if (temp) {
    for (const std::filesystem::path& log : RecentDailyLogs(*temp)) {
      const std::optional<std::string> text = ReadTail(log);
      if (text) entries.push_back({"daily/" + log.filename().u8string(), MaskDailyLog(*text)});
    }
  }
  const auto [dosTime, dosDate] = DosNow();
  const std::string archive = StoredZip(entries, dosTime, dosDate);
  std::ofstream out(zip, std::ios::binary | std::ios::trunc);
  out.write(archive.data(), static_cast<std::streamsize>(archive.size()));
  out.close();
  if (archive.empty() || !out) {
    std::fprintf(stderr, "mQARDEXService: cannot write %s\n", zip.u8string().c_str());
    return 1;
  }
  std::printf("bundle written: %s (%zu files)\n", zip.u8string().c_str(), entries.size());
  return 0;
}

}  // namespace qardex::checkup
