// The open sessions of the service: unguessable ids from a cryptographic
// random source, expiry after an idle time on a supplied clock, and a limit on
// how many exist at once. Safe to use from several connection threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "service/method_binding.h"

namespace qardex::service {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;
// Fills the bytes from a cryptographic generator; false when it cannot.
using RandomSource = std::function<bool(unsigned char* bytes, std::size_t count)>;

inline constexpr std::size_t kMaxSessions = 64;
inline constexpr std::chrono::minutes kSessionIdleLimit{10};
inline constexpr std::size_t kSessionIdBytes = 16;  // shown as 32 hex digits

// One session; its calls take `calls` so that they never overlap.
struct SessionSlot {
  std::mutex calls;
  std::unique_ptr<MethodSession> session;
};

class SessionTable {
 public:
  SessionTable(SteadyClock clock, RandomSource random, std::size_t capacity = kMaxSessions,
               std::chrono::steady_clock::duration idleLimit = kSessionIdleLimit);

  enum class OpenStatus { Opened, Full, Unavailable };
  struct Opened {
    OpenStatus status;
    std::string id;
  };
  // Makes a session with `make` when there is room (after dropping expired ones).
  // Unavailable: no random id could be drawn, or `make` gave nothing.
  Opened Open(const std::function<std::unique_ptr<MethodSession>()>& make);

  // The live session of that id, its idle time restarted; null when unknown or expired.
  std::shared_ptr<SessionSlot> Find(std::string_view id);

  // Ends the session; false when it was unknown or expired.
  bool Close(std::string_view id);

  std::size_t Count();

 private:
  struct Entry {
    std::shared_ptr<SessionSlot> slot;
    std::chrono::steady_clock::time_point lastUse;
  };
  void DropExpired(std::chrono::steady_clock::time_point now);

  SteadyClock clock_;
  RandomSource random_;
  std::size_t capacity_;
  std::chrono::steady_clock::duration idleLimit_;
  std::mutex lock_;
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace qardex::service
