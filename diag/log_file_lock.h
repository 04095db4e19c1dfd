// Serialises appends to the daily log across threads and processes: two
// controls (or a control and the service) writing at once must neither lose
// an entry nor tear a line. The lock is held only around open-append-close.
#pragma once

namespace qardex::diag {

class LogFileLock {
 public:
  LogFileLock();
  ~LogFileLock();
  LogFileLock(const LogFileLock&) = delete;
  LogFileLock& operator=(const LogFileLock&) = delete;

 private:
  bool held_ = false;
};

// How long an entry waits for another writer before it is written anyway.
inline constexpr unsigned kLogLockWaitMs = 2000;

}  // namespace qardex::diag
