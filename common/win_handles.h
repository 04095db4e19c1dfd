// Owners of the Windows handles and system-allocated memory that every program of the product
// holds: the library, the service and its workers, the installer and the uninstaller. Header
// only, so a program that shares no code with the library may use it all the same.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <wincrypt.h>

#include <memory>
#include <type_traits>

namespace qardex::common {

struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// A process, thread, token, pipe, event or file handle; null when the call that made it failed.
using KernelHandle = std::unique_ptr<void, KernelHandleCloser>;

// CreateFile and CreateNamedPipe report failure as INVALID_HANDLE_VALUE, not null.
inline KernelHandle AdoptFileHandle(HANDLE handle) {
  return KernelHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct LocalMemoryFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
// Memory the system allocated for the caller with LocalAlloc: string SIDs, security
// descriptors, decoded certificates.
template <class T = void>
using LocalMemory = std::unique_ptr<T, LocalMemoryFreer>;

struct GlobalMemoryFreer {
  void operator()(void* memory) const { GlobalFree(memory); }
};
// Memory the system allocated for the caller with GlobalAlloc: WinHTTP's proxy texts.
template <class T = void>
using GlobalMemory = std::unique_ptr<T, GlobalMemoryFreer>;

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
// A service or Service Control Manager handle.
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

struct RegistryKeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;

struct EventSourceCloser {
  void operator()(HANDLE source) const { DeregisterEventSource(source); }
};
// An event log source handle (RegisterEventSource).
using EventSource = std::unique_ptr<void, EventSourceCloser>;

struct CertStoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, CertStoreCloser>;

struct CertContextFreer {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;

}  // namespace qardex::common
