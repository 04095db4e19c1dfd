// Owner of a Win32 HANDLE that CloseHandle releases.
#ifndef QARDEX_PROCSTAT_UNIQUE_HANDLE_H
#define QARDEX_PROCSTAT_UNIQUE_HANDLE_H

#include <windows.h>

class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

#endif
