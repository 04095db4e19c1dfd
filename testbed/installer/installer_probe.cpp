// Test-bed probe for the installer tests: reports what the installer left in the service
// manager and the certificate store.
//
//   installer_probe service NAME      "absent" or "state=... type=0x.. start=.. error=.. account=..
//                                     display=.. path=.." (one line)
//   installer_probe root SHA1HEX      "present" or "absent": a certificate with that thumbprint in
//                                     the local machine's "root" store
//   installer_probe roots TEXT        the thumbprints of the certificates in that store whose
//                                     subject holds TEXT, one a line
//   installer_probe dacl PATH         the file's owner and access list in the security
//                                     descriptor language
//   installer_probe wait-gone NAME S  waits up to S seconds for the service to go away; exit 0
//                                     when it did
//   installer_probe purge NAME        stops and deletes the service if there is one, and waits
//                                     (up to 30 s) until it is gone
//   installer_probe grant SID MASK PATH
//                                     adds an entry that allows SID (text form) the rights MASK
//                                     (hexadecimal) to the access list of PATH
//   installer_probe listen PORT SECONDS
//                                     listens on 127.0.0.1:PORT, says "listening" and holds it
//                                     for SECONDS (or until ended)
//   installer_probe hold PATH SECONDS opens PATH for reading, sharing it for reading only (no
//                                     writer, no deletion), says "held" and keeps it so for
//                                     SECONDS (or until ended)
//   installer_probe run NAME=VALUE... PROGRAM
//                                     runs PROGRAM with those variables set in its environment
//                                     (Wine takes COMSPEC, TEMP and TMP from its registry, not
//                                     from the Unix environment); exit code: the program's
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

struct ScCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScCloser>;

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;

struct ContextFreer {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "stopped";
    case SERVICE_START_PENDING:
      return "start-pending";
    case SERVICE_STOP_PENDING:
      return "stop-pending";
    case SERVICE_RUNNING:
      return "running";
    default:
      return "other";
  }
}

const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

int Service(const wchar_t* name) {
  const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    std::printf("manager-failed %lu\n", GetLastError());
    return 2;
  }
  const ScHandle service(
      OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::printf("absent\n");
    } else {
      std::printf("open-failed %lu\n", error);
    }
    return 0;
  }
  SERVICE_STATUS status = {};
  QueryServiceStatus(service.get(), &status);
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed + 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (needed && QueryServiceConfigW(service.get(), config, needed, &needed)) {
    std::printf("state=%s type=0x%lx start=%lu error=%lu account=%ls display=%ls path=%ls\n",
                StateName(status.dwCurrentState), config->dwServiceType, config->dwStartType,
                config->dwErrorControl, OrEmpty(config->lpServiceStartName),
                OrEmpty(config->lpDisplayName), OrEmpty(config->lpBinaryPathName));
  } else {
    std::printf("state=%s config-failed %lu\n", StateName(status.dwCurrentState), GetLastError());
  }
  return 0;
}

int WaitGone(const wchar_t* name, int seconds) {
  const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 2;
  for (int tenths = 0; tenths <= seconds * 10; ++tenths) {
    const ScHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return 0;
    Sleep(100);
  }
  return 1;
}

int Purge(const wchar_t* name) {
  {
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return 2;
    const ScHandle service(OpenServiceW(manager.get(), name, SERVICE_STOP | DELETE));
    if (service) {
      SERVICE_STATUS status = {};
      ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
      DeleteService(service.get());
    }
  }
  return WaitGone(name, 30);
}

int Root(const wchar_t* thumbprint) {
  BYTE hash[20] = {};
  for (int i = 0; i < 20; ++i) {
    unsigned value = 0;
    if (std::swscanf(thumbprint + 2 * i, L"%2x", &value) != 1) return 2;
    hash[i] = static_cast<BYTE>(value);
  }
  const CertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG,
                                      L"root"));
  if (!store) {
    std::printf("store-failed %lu\n", GetLastError());
    return 2;
  }
  CRYPT_HASH_BLOB blob = {sizeof hash, hash};
  const CertContext found(CertFindCertificateInStore(store.get(),
                                                     X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_SHA1_HASH, &blob, nullptr));
  std::printf(found ? "present\n" : "absent\n");
  return 0;
}

int Grant(const wchar_t* sidText, const wchar_t* maskText, wchar_t* path) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(sidText, &sid)) return 2;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  PACL granted = nullptr;
  EXPLICIT_ACCESSW entry = {};
  entry.grfAccessPermissions = std::wcstoul(maskText, nullptr, 16);
  entry.grfAccessMode = GRANT_ACCESS;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.ptstrName = static_cast<wchar_t*>(sid);
  DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &dacl, nullptr, &descriptor);
  if (error == ERROR_SUCCESS) error = SetEntriesInAclW(1, &entry, dacl, &granted);
  if (error == ERROR_SUCCESS) {
    error = SetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  granted, nullptr);
  }
  LocalFree(granted);
  LocalFree(descriptor);
  LocalFree(sid);
  if (error != ERROR_SUCCESS) std::fprintf(stderr, "grant: error %lu\n", error);
  return error == ERROR_SUCCESS ? 0 : 2;
}

int Roots(const wchar_t* text) {
  const CertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG,
                                      L"root"));
  PCCERT_CONTEXT found = nullptr;
  while (store && (found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                      CERT_FIND_SUBJECT_STR_W, text, found))) {
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    CertGetCertificateContextProperty(found, CERT_SHA1_HASH_PROP_ID, hash, &size);
    for (const BYTE b : hash) std::printf("%02X", b);
    std::printf("\n");
  }
  return store ? 0 : 2;
}

int Dacl(const wchar_t* path) {
  DWORD size = 0;
  const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  GetFileSecurityW(path, parts, nullptr, 0, &size);
  std::vector<BYTE> descriptor(size + 1);
  wchar_t* text = nullptr;
  if (size == 0 || !GetFileSecurityW(path, parts, descriptor.data(), size, &size) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                            parts, &text, nullptr)) {
    std::printf("failed %lu\n", GetLastError());
    return 2;
  }
  std::printf("%ls\n", text);
  LocalFree(text);
  return 0;
}

int Run(int count, wchar_t** args) {
  for (int i = 0; i + 1 < count; ++i) {
    std::wstring setting(args[i]);
    const std::size_t equals = setting.find(L'=');
    if (equals == std::wstring::npos || equals == 0) return 2;
    setting[equals] = L'\0';
    if (!SetEnvironmentVariableW(setting.c_str(), setting.c_str() + equals + 1)) return 2;
  }
  std::wstring line = L"\"" + std::wstring(args[count - 1]) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Wine now and then refuses a start with ERROR_INTERNAL_ERROR (seen with a very long TMP);
  // a second or third attempt starts the program.
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CreateProcessW(args[count - 1], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR) break;
    Sleep(200);
  }
  if (error != ERROR_SUCCESS) {
    std::fprintf(stderr, "run: CreateProcess failed %lu\n", error);
    return 2;
  }
  CloseHandle(process.hThread);
  DWORD exitCode = 2;
  if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
    exitCode = 3;
  else
    GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}

// Says `what` and keeps whatever the caller holds for `seconds`.
int HoldFor(const char* what, const wchar_t* seconds) {
  std::printf("%s\n", what);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstol(seconds, nullptr, 10)) * 1000);
  return 0;
}

int Listen(const wchar_t* port, const wchar_t* seconds) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 2;
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::wcstol(port, nullptr, 10)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4) != 0) {
    std::fprintf(stderr, "listen: error %d\n", WSAGetLastError());
    return 2;
  }
  return HoldFor("listening", seconds);
}

int Hold(const wchar_t* path, const wchar_t* seconds) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold: error %lu\n", GetLastError());
    return 2;
  }
  return HoldFor("held", seconds);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"service") == 0) return Service(argv[2]);
  if (argc == 4 && std::wcscmp(argv[1], L"wait-gone") == 0) {
    return WaitGone(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"purge") == 0) return Purge(argv[2]);
  if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0) return Run(argc - 2, argv + 2);
  if (argc == 5 && std::wcscmp(argv[1], L"grant") == 0) return Grant(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::wcscmp(argv[1], L"roots") == 0) return Roots(argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"dacl") == 0) return Dacl(argv[2]);
  if (argc == 4 && std::wcscmp(argv[1], L"listen") == 0) return Listen(argv[2], argv[3]);
  if (argc == 4 && std::wcscmp(argv[1], L"hold") == 0) return Hold(argv[2], argv[3]);
  if (argc == 3 && std::wcscmp(argv[1], L"root") == 0 && std::wcslen(argv[2]) == 40) {
    return Root(argv[2]);
  }
  std::fprintf(
      stderr,
      "usage: installer_probe service NAME | wait-gone NAME SECONDS | purge NAME | root SHA1HEX"
      " | grant SID MASK PATH | roots TEXT | dacl PATH | listen PORT SECONDS | hold PATH SECONDS"
      " | run NAME=VALUE... PROGRAM\n");
  return 2;
}
