#include "https/https_server_win.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/unwatched_thread_win.h"
#include "https/connection_loop.h"

namespace qardex::service {

namespace {

using Clock = std::chrono::steady_clock;

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

// How a TLS step begins: at once, or (a read with nothing buffered) once the socket has bytes.
// Under Wine every socket call is several round trips to its server, so a read that would only
// find the socket empty is worth sparing.
enum class Start { Step, AwaitInput };

// Runs one TLS step until it completes; false on failure, deadline or halt. With `first` (a
// read between requests), the first bytes that arrive on the socket are told to it, and bring
// the deadline forward to what it answers.
template <class Step>
bool RunTls(SSL* ssl, SOCKET socket, Clock::time_point deadline, const Halt& halt, Step step,
            int& result, const FirstBytes* first = nullptr, Start start = Start::Step) {
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
    if (first != nullptr && wanted == SSL_ERROR_WANT_READ) {
      const std::optional<Clock::time_point> requestDeadline = (*first)();
      if (!requestDeadline) return false;
      deadline = std::min(deadline, *requestDeadline);
      first = nullptr;  // told once
    }
    wanted = 0;
  }
}

// The connection's bytes under TLS over a non-blocking socket.
class TlsSocketStream final : public ByteStream {
 public:
  TlsSocketStream(SSL* ssl, SOCKET socket) : ssl_(ssl), socket_(socket) {}

  bool Handshake(Clock::time_point deadline, const Halt& halt) override {
    int result = 0;
    return RunTls(
        ssl_, socket_, deadline, halt, [&] { return SSL_accept(ssl_); }, result);
  }

  std::string Read(Clock::time_point deadline, const Halt& halt, const FirstBytes* first) override {
    int received = 0;
    if (!RunTls(
            ssl_, socket_, deadline, halt, [&] { return SSL_read(ssl_, buffer_, sizeof buffer_); },
            received, first, SSL_has_pending(ssl_) ? Start::Step : Start::AwaitInput)) {
      return {};
    }
    return std::string(buffer_, static_cast<std::size_t>(received));
  }

  bool SendAll(std::string_view bytes, Clock::time_point deadline, const Halt& halt) override {
    while (!bytes.empty()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 16384));
      int written = 0;
      if (!RunTls(
              ssl_, socket_, deadline, halt, [&] { return SSL_write(ssl_, bytes.data(), chunk); },
              written)) {
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  bool PeerGone(std::string* early) override {
    char scrap[512];
    while (early == nullptr || early->size() < kMaxEarlyBytes) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(socket_, &set);
      timeval now{0, 0};
      const int ready = select(0, &set, nullptr, nullptr, &now);
      if (ready == SOCKET_ERROR) return true;
      if (ready == 0 && SSL_has_pending(ssl_) == 0) return false;
      ERR_clear_error();
      const int read = SSL_read(ssl_, scrap, sizeof scrap);
      if (read > 0) {
        if (early != nullptr) early->append(scrap, static_cast<std::size_t>(read));
        continue;
      }
      const int error = SSL_get_error(ssl_, read);
      return error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
    }
    return false;
  }

  void ClosePolitely() override {
    ERR_clear_error();
    SSL_shutdown(ssl_);
  }

 private:
  SSL* const ssl_;
  const SOCKET socket_;
  char buffer_[16384];
};

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

HttpsServer::HttpsServer(const CurrentTls& tls, Router& router, CallerLookup identify,
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
    std::shared_ptr<ConnectionRegistry::Place> place = connections_->Admit(Clock::now());
    if (!place) continue;  // every connection is busy: the newcomer is closed on leaving scope
    bool started = false;
    try {
      auto owned = std::make_shared<SocketHandle>(accepted.Release());
      started = common::StartUnwatched(
          [owned, place, &stop, context = context_, connections = connections_] {
            try {
              ServeSocket(owned->Release(), *context, stop, *connections, *place);
            } catch (...) {
              // Nothing leaves the thread; the connection is closed.
            }
            OPENSSL_thread_stop();  // a static OpenSSL keeps per-thread state otherwise
            connections->Leave(place);
          });
    } catch (...) {
      // Out of memory: no thread serves the connection; its place is given back below.
    }
    if (!started) connections_->Leave(place);
  }
  listener_.reset();
  connections_->WaitUntilEmpty(context_->limits.drainAtStop);
}

void HttpsServer::ServeSocket(SOCKET raw, const Context& context, const std::atomic<bool>& stop,
                              ConnectionRegistry& connections, ConnectionRegistry::Place& place) {
  SocketHandle socket(raw);
  u_long nonBlocking = 1;
  if (ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) return;
  // Answers are single small writes: never held back for an acknowledgement.
  const BOOL noDelay = TRUE;
  setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
             sizeof noDelay);
  SslPtr ssl = context.tls.NewConnection();
  if (!ssl || SSL_set_fd(ssl.get(), static_cast<int>(socket.get())) != 1) return;
  TlsSocketStream stream(ssl.get(), socket.get());
  ServeConnection(
      stream, ConnectionContext{
                  connections, place, context.limits, stop, Clock::now,
                  [](std::chrono::milliseconds wait) { Sleep(static_cast<DWORD>(wait.count())); },
                  [&] { return IdentifyPeer(socket.get(), context.identify); },
                  [&](CallerCheck caller) -> std::unique_ptr<RequestExchange> {
                    return std::make_unique<HttpRequestExchange>(context.router, std::move(caller));
                  }});
}

}  // namespace qardex::service
