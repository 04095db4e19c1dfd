// Owners of the Windows handles the installer and the uninstaller hold.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace qardex::setup {

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
// A service or Service Control Manager handle.
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// A file, process or thread handle; null when the call that made it failed.
using KernelHandle = std::unique_ptr<void, KernelHandleCloser>;

// CreateFile reports failure as INVALID_HANDLE_VALUE, not null.
inline KernelHandle AdoptFileHandle(HANDLE handle) {
  return KernelHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct LocalMemoryFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
// Memory the system allocated for the caller with LocalAlloc.
using LocalMemory = std::unique_ptr<void, LocalMemoryFreer>;

}  // namespace qardex::setup
