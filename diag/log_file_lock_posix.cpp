#include <chrono>
#include <mutex>

#include "diag/log_file_lock.h"

namespace qardex::diag {

namespace {
std::timed_mutex& LogMutex() {
  static std::timed_mutex mutex;
  return mutex;
}
}  // namespace

// Native builds (tests and tools) have one writer process: a process-wide lock.
LogFileLock::LogFileLock() {
  held_ = LogMutex().try_lock_for(std::chrono::milliseconds(kLogLockWaitMs));
}

LogFileLock::~LogFileLock() {
  if (held_) LogMutex().unlock();
}

}  // namespace qardex::diag
