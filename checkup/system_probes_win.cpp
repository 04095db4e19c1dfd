#include "checkup/system_probes_win.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <wincrypt.h>
// clang-format on

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "checkup/registry_values_win.h"
#include "cloud/server_connection.h"
#include "common/text_conversion.h"
#include "diag/temp_directory.h"
#include "keymint/approved_origins.h"
#include "keymint/certificate_set.h"
#include "keymint/program_folder.h"
#include "qardex_constants.h"
#include "setup/event_source_win.h"
#include "setup/install_layout.h"
#include "common/win_handles.h"
#include "sitelock/approved_sites.h"
#include "sitelock/localhost_ports.h"

namespace qardex::checkup {

namespace {

// Hosts files that block advertising run to a few megabytes; nothing we read comes near this.
constexpr std::uintmax_t kLargestTextFile = 64 * 1024 * 1024;
constexpr wchar_t kPolicyRoot[] = L"SOFTWARE\\Policies\\";
constexpr wchar_t kChromeList[] = L"Google\\Chrome\\LocalNetworkAccessAllowedForUrls";
constexpr wchar_t kEdgeList[] = L"Microsoft\\Edge\\LocalNetworkAccessAllowedForUrls";
constexpr wchar_t kChromeLoopbackList[] = L"Google\\Chrome\\LoopbackNetworkAllowedForUrls";
constexpr wchar_t kEdgeLoopbackList[] = L"Microsoft\\Edge\\LoopbackNetworkAllowedForUrls";
// The lists that keep pages from this computer's services, for each browser that reads them.
constexpr struct {
  const char* browser;
  const wchar_t* key;
  const char* policy;
} kBlockedLists[] = {
    {"Chrome", L"Google\\Chrome\\", "LoopbackNetworkBlockedForUrls"},
    {"Chrome", L"Google\\Chrome\\", "LocalNetworkAccessBlockedForUrls"},
    {"Edge", L"Microsoft\\Edge\\", "LoopbackNetworkBlockedForUrls"},
    {"Edge", L"Microsoft\\Edge\\", "LocalNetworkAccessBlockedForUrls"},
};
constexpr wchar_t kFirefoxInstall[] = L"Mozilla\\Firefox\\Certificates\\Install";

std::optional<std::string> ReadTextFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kLargestTextFile) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return text;
}

common::RegistryKey OpenPolicyKey(const wchar_t* path) {
  HKEY key = nullptr;
  const std::wstring full = std::wstring(kPolicyRoot) + path;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return common::RegistryKey(key);
}

// The string values of a list policy, as ASCII (an entry with other characters is no origin of
// ours and is passed over).
std::vector<std::string> ListValues(const wchar_t* path) {
  std::vector<std::string> values;
  const common::RegistryKey key = OpenPolicyKey(path);
  if (!key) return values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    wchar_t data[1024];
    DWORD dataBytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result = RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    std::string text;
    bool ascii = true;
    for (DWORD i = 0; i < dataBytes / sizeof(wchar_t) && data[i] != L'\0'; ++i) {
      ascii = ascii && data[i] < 0x80;
      text.push_back(static_cast<char>(data[i]));
    }
    if (ascii) values.push_back(std::move(text));
  }
  return values;
}

// The process listening on 127.0.0.1 or any address at the service's port.
std::optional<std::uint32_t> PortListener() {
  ULONG bytes = 0;
  std::vector<std::uint8_t> table;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the calls; a few tries are enough.
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    table.resize(bytes + 1024);
    bytes = static_cast<ULONG>(table.size());
    result =
        GetExtendedTcpTable(table.data(), &bytes, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR) return std::nullopt;
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    const bool address = row.dwLocalAddr == htonl(INADDR_LOOPBACK) || row.dwLocalAddr == INADDR_ANY;
    if (address && ntohs(static_cast<u_short>(row.dwLocalPort)) == build::kLocalServicePort) {
      return row.dwOwningPid;
    }
  }
  return std::nullopt;
}

// The approved sites a blocked list can keep out, as "scheme://host" (a host may be a pattern):
// pages on this computer's own names reach its services whatever the lists say.
std::vector<std::string> ApprovedSites() {
  std::vector<std::string> sites;
  for (std::size_t i = 0; i < sitelock::kApprovedSiteCount; ++i) {
    const sitelock::ApprovedSite& site = sitelock::kApprovedSites[i];
    if (site.kind != sitelock::SiteKind::Allow || site.domain == nullptr ||
        sitelock::IsLocalhostName(site.domain)) {
      continue;
    }
    const std::wstring text = std::wstring(site.scheme) + L"://" + site.domain;
    sites.push_back(std::string(text.begin(), text.end()));  // the table is ASCII
  }
  return sites;
}

}  // namespace

std::optional<std::string> ReadHostsFile() {
  char system[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryA(system, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  setup::Overflow overflow;
  const std::optional<setup::HostsPaths> paths =
      setup::BuildHostsPaths(std::string_view(system, length), &overflow);
  if (!paths) return std::nullopt;
  return ReadTextFile(paths->hosts);
}

CertificateFacts ProbeCertificateFiles() {
  std::filesystem::path folder;
  try {
    folder = keymint::ProgramFolder();
  } catch (const std::exception&) {
    return {};
  }
  const std::optional<std::string> certificates =
      ReadTextFile(folder / keymint::kServerCertificateFile);
  const std::optional<std::string> key = ReadTextFile(folder / keymint::kServerKeyFile);
  return ExamineCertificates(certificates.value_or(""), key.value_or(""), std::time(nullptr));
}

std::optional<keymint::RenewalFailure> ProbeRenewalNote() {
  try {
    const std::optional<std::string> note =
        ReadTextFile(keymint::ProgramFolder() / keymint::kRenewalNoteFile);
    return note ? keymint::ParseRenewalFailure(*note) : std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<int> ProbeRootStoreCopies(const std::vector<std::uint8_t>& der) {
  const common::CertStore store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                    CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root"));
  if (!store) return std::nullopt;
  int copies = 0;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(store.get(), certificate)) != nullptr) {
    if (certificate->cbCertEncoded == der.size() &&
        std::memcmp(certificate->pbCertEncoded, der.data(), der.size()) == 0) {
      ++copies;
    }
  }
  return copies;
}

ServiceFacts ProbeService() {
  ServiceFacts facts;
  facts.listener = PortListener();
  const common::ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return facts;
  wchar_t name[64] = {};
  for (std::size_t i = 0; setup::kServiceName[i] != '\0' && i + 1 < std::size(name); ++i) {
    name[i] = static_cast<wchar_t>(setup::kServiceName[i]);
  }
  const common::ScHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
  if (!service) {
    // Any refusal but "no such service" means the service is there.
    facts.installed = GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
    return facts;
  }
  facts.installed = true;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                           sizeof status, &needed)) {
    facts.running = status.dwCurrentState == SERVICE_RUNNING;
    facts.processId = status.dwProcessId;
  }
  return facts;
}

EventSourceFacts ProbeEventSource() {
  EventSourceFacts facts;
  const common::RegistryKey key = OpenKey(
      HKEY_LOCAL_MACHINE, common::Utf8ToWide(setup::ServiceEventSourceKey()), KEY_WOW64_64KEY);
  facts.registered = static_cast<bool>(key);
  const std::optional<std::string> files =
      key ? TextValue(key.get(), L"EventMessageFile") : std::nullopt;
  if (!files) return facts;
  // The event log expands the value in the system's environment; this process's names the same
  // system folders (only a user's own variables, such as TEMP, differ).
  facts.messageFiles = *files;
  const std::wstring raw = common::Utf8ToWide(*files);
  const DWORD length = ExpandEnvironmentStringsW(raw.c_str(), nullptr, 0);
  std::wstring expanded(length, L'\0');
  if (length > 0 && ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), length) == length) {
    expanded.resize(length - 1);
    facts.messageFiles = common::WideToUtf8(expanded);
  }
  return facts;
}

PolicyFacts ProbePolicies() {
  PolicyFacts facts;
  facts.chromeOrigins = ListValues(kChromeList);
  facts.edgeOrigins = ListValues(kEdgeList);
  facts.chromeLoopbackOrigins = ListValues(kChromeLoopbackList);
  facts.edgeLoopbackOrigins = ListValues(kEdgeLoopbackList);
  for (const auto& list : kBlockedLists) {
    const std::string policy = list.policy;
    const std::wstring key = list.key + std::wstring(policy.begin(), policy.end());
    facts.blocked.push_back({list.browser, policy, ListValues(key.c_str())});
  }
  facts.approvedSites = ApprovedSites();
  facts.firefoxInstalls = ListValues(kFirefoxInstall);
  try {
    // The copy of a set the service renewed, else the installer's.
    const std::filesystem::path folder = keymint::ProgramFolder();
    const std::filesystem::path renewed =
        folder / setup::BrowserRootCopyFor(ProbeCertificateFiles().rootSerial);
    std::error_code missing;
    facts.expectedFirefoxRoot =
        (std::filesystem::is_regular_file(renewed, missing) ? renewed
                                                            : folder / setup::kBrowserRootCopy)
            .string();
  } catch (const std::exception&) {
    // No folder: nothing can be ours.
  }
  try {
    // As FoxTrust.cmd lists them: http://localhost with the ports of LocalhostPorts only.
    facts.expectedOrigins = keymint::ListedOrigins(
        keymint::ByLocalhostRule(
            keymint::FixedNameOrigins(sitelock::kApprovedSites, sitelock::kApprovedSiteCount)),
        sitelock::LocalhostPortsOf(sitelock::ReadLocalhostPortsPolicy()).ports);
  } catch (const std::exception&) {
    // The build refuses such a table; nothing to expect then.
  }
  return facts;
}

ProxyFacts ProbeProxy() {
  ProxyFacts facts;
  facts.host =
      std::string(build::kLocalServiceHost) + ":" + std::to_string(build::kLocalServicePort);
  facts.loopbackHost = build::kLocalServiceLoopbackHost;
  cloud::ProxyLookup lookup(facts.host);
  const cloud::ProxySetting setting = lookup.Finish(cloud::NoWaitPulse());
  facts.fromScript = setting.autoDetected != 0;
  if (setting.proxy) facts.proxy = common::WideToUtf8(*setting.proxy);
  if (setting.bypass) facts.bypass = common::WideToUtf8(*setting.bypass);
  return facts;
}

LogFolderFacts ProbeLogFolder() {
  LogFolderFacts facts;
  const std::optional<std::string> folder = diag::TempDirectory();
  if (!folder) return facts;
  facts.folder = *folder;
  const std::string probe =
      *folder + "QARDEX.check." + std::to_string(GetCurrentProcessId()) + ".tmp";
  const common::KernelHandle file = common::AdoptFileHandle(
      CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  DWORD written = 0;
  facts.writable = file && WriteFile(file.get(), "x", 1, &written, nullptr) && written == 1;
  return facts;
}

}  // namespace qardex::checkup
