#include <windows.h>

#include "diag/log_file_lock.h"

namespace qardex::diag {

namespace {

// One named mutex per session, opened once per module and kept for its life:
// an entry then costs one wait and one release.
HANDLE LogMutex() {
  static const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\QARDEX.err.log");
  return mutex;
}

}  // namespace

LogFileLock::LogFileLock() {
  const HANDLE mutex = LogMutex();
  if (mutex == nullptr) return;
  const DWORD waited = WaitForSingleObject(mutex, kLogLockWaitMs);
  // An owner that died mid-entry leaves the mutex abandoned: ours now.
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

LogFileLock::~LogFileLock() {
  if (held_) ReleaseMutex(LogMutex());
}

}  // namespace qardex::diag
