#include "https/https_server_win.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "https/http_exchange.h"

namespace qardex::service {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting connection looks at the stop flag and whether it was evicted.
constexpr std::chrono::milliseconds kStopPoll{250};
// How often a newcomer beyond its Windows session's share looks for a place again.
constexpr std::chrono::milliseconds kPlacePoll{100};

// What ends a wait early: the service stops, or the connection gave its place to a newcomer.
struct Halt {
  const std::atomic<bool>& stop;
  const ConnectionRegistry::Slot* slot = nullptr;
  bool operator()() const { return stop.load() || (slot != nullptr && slot->Evicted()); }
};

// Waits until the socket can be read (or written), the deadline passes or the
// wait is halted; true only in the first case.
bool WaitForSocket(SOCKET socket, bool forWriting, Clock::time_point deadline, const Halt& halt) {
  while (!halt()) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    const auto wait = std::min<Clock::duration>(kStopPoll, deadline - now);
    const long micros =
        static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(wait).count());
    timeval timeout{micros / 1000000, micros % 1000000};
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    const int ready =
        select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) return false;
    if (ready > 0) return true;
  }
  return false;
}

// When the first bytes of a request arrived, and how long the request may take from then.
// TLS records can be trickled a byte at a time, so the request's clock starts with the first
// bytes on the socket, not with the first decrypted ones; from then on the connection is
// receiving a request (evictable once that stalls).
struct FirstBytes {
  Clock::time_point at{};
  Clock::duration limit{};
  ConnectionRegistry::Slot* slot = nullptr;
};

// How a TLS step begins: at once, or (a read with nothing buffered) once the socket has bytes.
// Under Wine every socket call is several round trips to its server, so a read that would only
// find the socket empty is worth sparing.
enum class Start { Step, AwaitInput };

// Runs one TLS step until it completes; false on failure, deadline or halt. With `first` (a
// read between requests), the first bytes that arrive set first->at, bring the deadline
// forward to first->limit from then and mark the connection busy.
template <class Step>
bool RunTls(SSL* ssl, SOCKET socket, Clock::time_point deadline, const Halt& halt, Step step,
            int& result, FirstBytes* first = nullptr, Start start = Start::Step) {
  int wanted = start == Start::AwaitInput ? SSL_ERROR_WANT_READ : 0;
  while (true) {
    if (wanted == 0) {
      ERR_clear_error();
      result = step();
      if (result > 0) return true;
      wanted = SSL_get_error(ssl, result);
      if (wanted != SSL_ERROR_WANT_READ && wanted != SSL_ERROR_WANT_WRITE) return false;
    }
    if (!WaitForSocket(socket, wanted == SSL_ERROR_WANT_WRITE, deadline, halt)) return false;
    if (first != nullptr && wanted == SSL_ERROR_WANT_READ && first->at == Clock::time_point{}) {
      first->at = Clock::now();
      if (!first->slot->Receiving(first->at)) return false;
      deadline = std::min(deadline, first->at + first->limit);
    }
    wanted = 0;
  }
}

bool SendAll(SSL* ssl, SOCKET socket, std::string_view bytes, Clock::time_point deadline,
             const Halt& halt) {
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 16384));
    int written = 0;
    if (!RunTls(
            ssl, socket, deadline, halt, [&] { return SSL_write(ssl, bytes.data(), chunk); },
            written)) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Bytes a client may send while its call runs (its next requests) that are kept for later.
constexpr std::size_t kMaxEarlyBytes = 64 * 1024;

// Whether the client closed its end (or the connection failed). What it sent meanwhile goes to
// `kept` (up to kMaxEarlyBytes; beyond, it stays unread), or is dropped without it.
bool ClientGone(SSL* ssl, SOCKET socket, std::string* kept) {
  char scrap[512];
  while (kept == nullptr || kept->size() < kMaxEarlyBytes) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval now{0, 0};
    const int ready = select(0, &set, nullptr, nullptr, &now);
    if (ready == SOCKET_ERROR) return true;
    if (ready == 0 && SSL_has_pending(ssl) == 0) return false;
    ERR_clear_error();
    const int read = SSL_read(ssl, scrap, sizeof scrap);
    if (read > 0) {
      if (kept != nullptr) kept->append(scrap, static_cast<std::size_t>(read));
      continue;
    }
    const int error = SSL_get_error(ssl, read);
    return error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
  }
  return false;
}

// Sends the feed's events until it ends, the client goes, a send stalls or the wait is halted.
void StreamEvents(SSL* ssl, SOCKET socket, EventFeed& feed, const ConnectionLimits& limits,
                  const Halt& halt) {
  std::string bytes;
  while (!halt() && !ClientGone(ssl, socket, nullptr)) {
    if (!feed.Next(bytes, kStopPoll)) return;
    if (!bytes.empty() && !SendAll(ssl, socket, bytes, Clock::now() + limits.send, halt)) return;
  }
}

DWORD WINAPI RunHandedOver(void* parameter) {
  const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  (*work)();
  return 0;
}

// Runs `work` (which lets nothing escape) on a thread of its own that nobody waits for. Not
// std::thread(...).detach(): with this toolchain's thread library a thread that ends before its
// creator detaches it can leave its bookkeeping to the next new thread, which then starts
// without its argument (a crash seen when 200 connections came and closed at once).
bool StartUnwatched(std::function<void()> work) {
  auto handOver = std::make_unique<std::function<void()>>(std::move(work));
  const HANDLE thread = CreateThread(nullptr, 0, RunHandedOver, handOver.get(), 0, nullptr);
  if (thread == nullptr) return false;
  handOver.release();  // the thread owns it now
  CloseHandle(thread);
  return true;
}

std::uint16_t PortOf(const sockaddr_in& address) { return ntohs(address.sin_port); }

// The caller behind the connection. Only a peer on 127.0.0.1 is looked up: the system's table
// is searched by port, and a peer bound to another loopback address could share its port with
// a connection of someone else.
CallerCheck IdentifyPeer(SOCKET socket, const CallerLookup& identify) {
  sockaddr_in peer{};
  sockaddr_in own{};
  int peerSize = sizeof peer;
  int ownSize = sizeof own;
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
      getsockname(socket, reinterpret_cast<sockaddr*>(&own), &ownSize) != 0 ||
      peer.sin_family != AF_INET || peer.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
    return CallerCheck{};  // refused: no owner
  }
  try {
    return identify(PortOf(peer), PortOf(own));
  } catch (...) {
    return CallerCheck{};
  }
}

}  // namespace

HttpsServer::HttpsServer(SSL_CTX* tls, Router& router, CallerLookup identify,
                         ConnectionLimits limits, std::shared_ptr<const void> keepAlive)
    : context_(std::make_shared<const Context>(
          Context{tls, router, std::move(identify), limits, std::move(keepAlive)})),
      connections_(std::make_shared<ConnectionRegistry>(limits.maxConnections,
                                                        limits.maxPerWindowsSession)) {}

bool HttpsServer::Listen(unsigned short port, std::string& error) {
  auto listener = std::make_unique<SocketHandle>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (listener->get() == INVALID_SOCKET) {
    error = "cannot make a socket (error " + std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  // Without it another program could bind the same address beside the listener and take its
  // connections: no listener then.
  BOOL exclusive = TRUE;
  if (setsockopt(listener->get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0) {
    error = "cannot make 127.0.0.1:" + std::to_string(port) + " exclusive (error " +
            std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener->get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener->get(), SOMAXCONN) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (error " +
            std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  u_long nonBlocking = 1;
  ioctlsocket(listener->get(), FIONBIO, &nonBlocking);
  listener_ = std::move(listener);
  return true;
}

void HttpsServer::Serve(const std::atomic<bool>& stop) {
  while (listener_ && !stop.load()) {
    if (!WaitForSocket(listener_->get(), false, Clock::now() + kStopPoll, Halt{stop})) continue;
    SocketHandle accepted(accept(listener_->get(), nullptr, nullptr));
    if (accepted.get() == INVALID_SOCKET) continue;
    std::shared_ptr<ConnectionRegistry::Slot> slot = connections_->Admit(Clock::now());
    if (!slot) continue;  // every connection is busy: the newcomer is closed on leaving scope
    bool started = false;
    try {
      auto owned = std::make_shared<SocketHandle>(accepted.Release());
      started =
          StartUnwatched([owned, slot, &stop, context = context_, connections = connections_] {
            try {
              ServeConnection(owned->Release(), *context, stop, *connections, *slot);
            } catch (...) {
              // Nothing leaves the thread; the connection is closed.
            }
            OPENSSL_thread_stop();  // a static OpenSSL keeps per-thread state otherwise
            connections->Leave(slot);
          });
    } catch (...) {
      // Out of memory: no thread serves the connection; its slot is given back below.
    }
    if (!started) connections_->Leave(slot);
  }
  listener_.reset();
  connections_->WaitUntilEmpty(context_->limits.drainAtStop);
}

void HttpsServer::ServeConnection(SOCKET raw, const Context& context, const std::atomic<bool>& stop,
                                  ConnectionRegistry& connections, ConnectionRegistry::Slot& slot) {
  const ConnectionLimits& limits = context.limits;
  const Halt halt{stop, &slot};
  SocketHandle socket(raw);
  u_long nonBlocking = 1;
  if (ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) return;
  // Answers are single small writes: never held back for an acknowledgement.
  const BOOL noDelay = TRUE;
  setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
             sizeof noDelay);
  SslPtr ssl(SSL_new(context.tls));
  if (!ssl || SSL_set_fd(ssl.get(), static_cast<int>(socket.get())) != 1) return;

  int result = 0;
  if (!RunTls(
          ssl.get(), socket.get(), Clock::now() + limits.handshake, halt,
          [&] { return SSL_accept(ssl.get()); }, result)) {
    return;
  }
  // Only now: a peer that never completes a handshake costs no look-up of the system's tables.
  CallerCheck caller = IdentifyPeer(socket.get(), context.identify);
  // A caller that is not known counts in session 0, with the services. Beyond its session's
  // share, a newcomer waits until one of the session's own requests has stalled long enough to
  // give its place up, instead of being turned away while they are still fresh.
  const Clock::time_point placeBy = Clock::now() + ConnectionRegistry::kStalledRequestGrace;
  while (!connections.Assign(slot, caller.caller.windowsSession, Clock::now())) {
    if (Clock::now() >= placeBy || halt()) return;
    Sleep(static_cast<DWORD>(kPlacePoll.count()));
  }
  HttpExchange exchange(context.router, std::move(caller));
  Clock::time_point deadline = Clock::now() + limits.idle;
  Clock::time_point requestStart{};
  char buffer[16384];
  std::string early;  // what the client sent while a call of its ran
  std::string input;
  const Abandoned gone = [&] { return ClientGone(ssl.get(), socket.get(), &early); };
  while (true) {
    int received = 0;
    const bool betweenRequests = !exchange.InRequest();
    FirstBytes first{{}, limits.request, &slot};
    if (!early.empty()) {
      input = std::exchange(early, {});
    } else if (RunTls(
                   ssl.get(), socket.get(), deadline, halt,
                   [&] { return SSL_read(ssl.get(), buffer, sizeof buffer); }, received,
                   betweenRequests ? &first : nullptr,
                   SSL_has_pending(ssl.get()) ? Start::Step : Start::AwaitInput)) {
      input.assign(buffer, static_cast<std::size_t>(received));
    } else {
      return;  // closed by the client, failed, too slow, evicted, or the service stops
    }
    const auto now = Clock::now();
    // Bytes TLS held already begin a request too. While they are parsed (and a request they
    // complete is answered) the connection is busy, never evicted.
    if (!slot.Busy()) return;
    if (betweenRequests) requestStart = first.at == Clock::time_point{} ? now : first.at;
    const std::string answers = exchange.Receive(input, gone);
    if (!answers.empty() && !SendAll(ssl.get(), socket.get(), answers, now + limits.send, halt)) {
      return;
    }
    if (const std::shared_ptr<EventFeed> events = exchange.TakeEvents()) {
      StreamEvents(ssl.get(), socket.get(), *events, limits, halt);
      return;
    }
    if (exchange.Closing()) {
      ERR_clear_error();
      SSL_shutdown(ssl.get());
      return;
    }
    if (exchange.InRequest()) {
      if (!slot.Receiving(requestStart)) return;
      deadline = requestStart + limits.request;
    } else {
      slot.Idle(Clock::now());
      deadline = Clock::now() + limits.idle;
    }
  }
}

}  // namespace qardex::service
