// The open sessions of the service: unguessable ids from a cryptographic random source, expiry
// after an idle time on a supplied clock, and limits on how many exist at once, overall and per
// origin and Windows session. A session belongs to the origin, Windows session and user that
// opened it; to anyone else it does not exist. Safe to use from several connection threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/method_runner.h"
#include "protocol/service_clock.h"

namespace qardex::service {

// Fills the bytes from a cryptographic generator; false when it cannot.
using RandomSource = std::function<bool(unsigned char* bytes, std::size_t count)>;

inline constexpr std::size_t kMaxSessions = 256;
// Per origin and Windows session, so that one page cannot take the room of another.
inline constexpr std::size_t kMaxSessionsPerOwner = 16;
// Per Windows session whatever the origins, so that one user cannot take the room of all: a
// quarter of the table.
inline constexpr std::size_t kMaxSessionsPerWindowsSession = 64;
inline constexpr std::chrono::minutes kSessionIdleLimit{10};
inline constexpr std::size_t kSessionIdBytes = 16;  // shown as 32 hex digits

struct SessionOwner {
  std::string origin;  // compared in its canonical form (service/origin_lock.h)
  std::uint32_t windowsSession = 0;
  std::string userSid;

  bool operator==(const SessionOwner& other) const {
    return origin == other.origin && windowsSession == other.windowsSession &&
           userSid == other.userSid;
  }
};

// One open session; its calls take their `turn` so that they never overlap.
struct LiveSession {
  std::timed_mutex turn;
  std::unique_ptr<MethodSession> session;
};

class SessionTable {
 public:
  SessionTable(SteadyClock clock, RandomSource random, std::size_t capacity = kMaxSessions,
               std::chrono::steady_clock::duration idleLimit = kSessionIdleLimit,
               std::size_t perOwner = kMaxSessionsPerOwner,
               std::size_t perWindowsSession = kMaxSessionsPerWindowsSession);

  enum class OpenStatus { Opened, Full, Unavailable };
  struct Opened {
    OpenStatus status;
    std::string id;
  };
  // Makes a session with `make` when there is room (after dropping expired ones). Full: the
  // table, the owner's Windows session, or the owner's origin in it has no room left. Unavailable:
  // no random id could be drawn, or `make` gave nothing.
  Opened Open(const SessionOwner& owner,
              const std::function<std::unique_ptr<MethodSession>()>& make);

  // The live session of that id and owner, its idle time restarted; null otherwise.
  std::shared_ptr<LiveSession> Find(std::string_view id, const SessionOwner& owner);

  // Ends the session of that id and owner; false when there is none.
  bool Close(std::string_view id, const SessionOwner& owner);

  // Drops the expired sessions now (the service does this about once a second, so that an idle
  // session lets its worker go even when no request comes).
  void ExpireIdle();

  std::size_t Count();

 private:
  struct Entry {
    SessionOwner owner;
    std::shared_ptr<LiveSession> live;
    std::chrono::steady_clock::time_point lastUse;
  };
  using Dropped = std::vector<std::shared_ptr<LiveSession>>;
  // Moves the expired sessions to `dropped`: the caller ends them once the lock is released,
  // since ending one tells its worker.
  void DropExpired(std::chrono::steady_clock::time_point now, Dropped& dropped);
  std::size_t CountOf(const SessionOwner& owner) const;
  std::size_t CountIn(std::uint32_t windowsSession) const;

  SteadyClock clock_;
  RandomSource random_;
  std::size_t capacity_;
  std::chrono::steady_clock::duration idleLimit_;
  std::size_t perOwner_;
  std::size_t perWindowsSession_;
  std::mutex lock_;
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace qardex::service
