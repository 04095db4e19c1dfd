// One connection's life from its handshake to its close, over a byte stream that hides TLS and
// sockets: the caller's place in its Windows session, the request, idle and send deadlines,
// eviction by a newcomer, early bytes sent while a call runs, and event streams.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "https/connection_registry.h"
#include "https/event_feed.h"
#include "https/http_exchange.h"
#include "https/listen_retry.h"
#include "protocol/caller.h"
#include "protocol/service_clock.h"

namespace qardex::service {

struct ConnectionLimits {
  // A newcomer beyond takes the place of the connection idle the longest; with none idle, it is
  // closed as soon as it is accepted.
  std::size_t maxConnections = 64;
  // Of those, what the callers of one Windows session may hold (a newcomer beyond takes the place
  // of that session's connection idle the longest): a browser keeps about six per host, a second
  // browser and event streams as many again; four full sessions still leave room for others.
  std::size_t maxPerWindowsSession = 16;
  std::chrono::milliseconds handshake{10000};
  std::chrono::milliseconds request{10000};  // from a request's first byte to its last
  std::chrono::milliseconds idle{30000};     // between requests on a kept connection
  std::chrono::milliseconds send{10000};     // to send one answer
  std::chrono::milliseconds drainAtStop{5000};
};

// How often a waiting connection looks at the stop flag and whether it was evicted.
inline constexpr std::chrono::milliseconds kStopPoll{250};
// How often a newcomer beyond its Windows session's share looks for a place again.
inline constexpr std::chrono::milliseconds kPlacePoll{100};
// Bytes a client may send while its call runs (its next requests) that are kept for later.
inline constexpr std::size_t kMaxEarlyBytes = 64 * 1024;

// What ends a wait early: the service stops, or the connection gave its place to a newcomer.
struct Halt {
  const std::atomic<bool>& stop;
  const ConnectionRegistry::Place* place = nullptr;
  bool operator()() const { return stop.load() || (place != nullptr && place->Evicted()); }
};

// Told when the first raw bytes of a read arrive (a TLS record may come a byte at a time, long
// before it decrypts): the read's deadline from then on, or nothing to end the read.
using FirstBytes = std::function<std::optional<ConnectionRegistry::Clock::time_point>()>;

// A connection's bytes, whatever carries them. Every wait ends at its deadline or when `halt`
// says so.
class ByteStream {
 public:
  using Clock = ConnectionRegistry::Clock;
  virtual ~ByteStream() = default;
  // False when the handshake failed or did not complete in time.
  virtual bool Handshake(Clock::time_point deadline, const Halt& halt) = 0;
  // Some bytes the peer sent, or none when it closed, failed or was too slow. With `first`, it
  // is told once when raw bytes arrive.
  virtual std::string Read(Clock::time_point deadline, const Halt& halt,
                           const FirstBytes* first) = 0;
  virtual bool SendAll(std::string_view bytes, Clock::time_point deadline, const Halt& halt) = 0;
  // Whether the peer closed its end (or the connection failed), without waiting. What it sent
  // meanwhile is appended to `early` (up to kMaxEarlyBytes in all; beyond, it stays unread), or
  // dropped without it.
  virtual bool PeerGone(std::string* early) = 0;
  // Tells the peer the connection ends.
  virtual void ClosePolitely() = 0;
};

// A connection's requests and answers as the loop sees them: HttpExchange in the service.
class RequestExchange {
 public:
  virtual ~RequestExchange() = default;
  virtual std::string Receive(std::string_view bytes, const Abandoned& abandoned) = 0;
  virtual bool Closing() const = 0;
  virtual bool InRequest() const = 0;
  virtual std::shared_ptr<EventFeed> TakeEvents() = 0;
};

class HttpRequestExchange final : public RequestExchange {
 public:
  HttpRequestExchange(Router& router, CallerCheck caller) : exchange_(router, std::move(caller)) {}
  std::string Receive(std::string_view bytes, const Abandoned& abandoned) override {
    return exchange_.Receive(bytes, abandoned);
  }
  bool Closing() const override { return exchange_.Closing(); }
  bool InRequest() const override { return exchange_.InRequest(); }
  std::shared_ptr<EventFeed> TakeEvents() override { return exchange_.TakeEvents(); }

 private:
  HttpExchange exchange_;
};

// What one connection works with besides its stream.
struct ConnectionContext {
  ConnectionRegistry& connections;
  ConnectionRegistry::Place& place;
  const ConnectionLimits& limits;
  const std::atomic<bool>& stop;
  SteadyClock clock;
  Pause pause;
  // Who is at the other end; asked once, after the handshake.
  std::function<CallerCheck()> identify;
  std::function<std::unique_ptr<RequestExchange>(CallerCheck)> makeExchange;
};

// Serves the connection until the peer closes it, a limit passes, it is evicted or the service
// stops. Leaves the place to the caller.
void ServeConnection(ByteStream& stream, const ConnectionContext& context);

}  // namespace qardex::service
