// Owners of the Windows handles and system-allocated buffers the service's Windows side holds.
#pragma once

#include <windows.h>

#include <memory>

namespace qardex::service {

struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// A process, token, pipe, event or file handle; null when the call that made it failed.
using KernelHandle = std::unique_ptr<void, KernelHandleCloser>;

// CreateFile and CreateNamedPipe report failure as INVALID_HANDLE_VALUE, not null.
inline KernelHandle AdoptFileHandle(HANDLE handle) {
  return KernelHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct LocalMemoryFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
// What the security functions hand out for LocalFree: string SIDs, security descriptors.
template <class T>
using LocalMemory = std::unique_ptr<T, LocalMemoryFreer>;

}  // namespace qardex::service
