#include "tools/service_client/https_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qardex::service_client {

namespace {

// An answer's header block larger than this is not the service's.
constexpr std::size_t kLargestHead = 64 * 1024;
constexpr std::size_t kLargestBody = 1024 * 1024;

Answer Problem(Outcome outcome, std::string what) {
  Answer answer;
  answer.outcome = outcome;
  answer.problem = std::move(what);
  return answer;
}

// Waits for the socket to become readable (or writable); false once the deadline passed.
bool WaitFor(int socket, bool writing, Clock::time_point deadline) {
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{socket, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the next call reports the error
  }
}

// Runs one TLS step until it completes. Returns Answered on success.
template <class Step>
Answer RunTls(SSL* ssl, int socket, Clock::time_point deadline, Step step, int& result) {
  while (true) {
    ERR_clear_error();
    errno = 0;
    result = step();
    if (result > 0) return Problem(Outcome::Answered, "");
    const int error = SSL_get_error(ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (!WaitFor(socket, error == SSL_ERROR_WANT_WRITE, deadline)) {
        return Problem(Outcome::TimedOut, "no progress before the deadline");
      }
      continue;
    }
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)) {
      return Problem(Outcome::Closed, errno != 0 ? std::strerror(errno) : "end of stream");
    }
    char text[256] = "TLS failure";
    if (const unsigned long code = ERR_peek_error()) ERR_error_string_n(code, text, sizeof text);
    // A reset or an alert while the service drops the connection is a close, not a failure.
    const bool dropped = error == SSL_ERROR_SYSCALL ||
                         ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
    return Problem(dropped ? Outcome::Closed : Outcome::Failed, text);
  }
}

bool HasCloseToken(std::string_view head) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("\r\nconnection: close") != std::string::npos;
}

}  // namespace

std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> MakeClientContext(const std::string& caFile) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                            &SSL_CTX_free);
  if (!context || SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr) != 1) {
    return {nullptr, &SSL_CTX_free};
  }
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  return context;
}

void HttpsLink::Drop() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  if (socket_ >= 0) close(socket_);
  ssl_ = nullptr;
  socket_ = -1;
}

Answer HttpsLink::Connect(Clock::time_point deadline) {
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return Problem(Outcome::Failed, std::strerror(errno));
  const int on = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(endpoint_.port));
  if (inet_pton(AF_INET, endpoint_.address.c_str(), &address.sin_addr) != 1) {
    return Problem(Outcome::Failed, "not an IPv4 address: " + endpoint_.address);
  }
  if (connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) return Problem(Outcome::Failed, std::strerror(errno));
    if (!WaitFor(socket_, true, deadline)) return Problem(Outcome::TimedOut, "connect");
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) return Problem(Outcome::Failed, std::strerror(error));
  }
  ssl_ = SSL_new(tls_);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, socket_) != 1 ||
      SSL_set_tlsext_host_name(ssl_, endpoint_.host.c_str()) != 1 ||
      SSL_set1_host(ssl_, endpoint_.host.c_str()) != 1) {
    return Problem(Outcome::Failed, "cannot set up TLS");
  }
  int result = 0;
  return RunTls(
      ssl_, socket_, deadline, [&] { return SSL_connect(ssl_); }, result);
}

Answer HttpsLink::Exchange(const std::string& request, Clock::time_point deadline) {
  if (ssl_ == nullptr) {
    Answer connected = Connect(deadline);
    if (connected.outcome != Outcome::Answered) {
      Drop();
      return connected;
    }
  }
  std::string_view rest = request;
  while (!rest.empty()) {
    int written = 0;
    Answer sent = RunTls(
        ssl_, socket_, deadline,
        [&] { return SSL_write(ssl_, rest.data(), static_cast<int>(rest.size())); }, written);
    if (sent.outcome != Outcome::Answered) {
      Drop();
      return sent;
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  Answer answer = Receive(deadline);
  if (answer.outcome != Outcome::Answered) Drop();
  return answer;
}

Answer HttpsLink::Receive(Clock::time_point deadline) {
  std::string bytes;
  std::size_t headEnd = std::string::npos;
  std::size_t bodyLength = 0;
  char buffer[16384];
  while (headEnd == std::string::npos || bytes.size() < headEnd + bodyLength) {
    int received = 0;
    Answer read = RunTls(
        ssl_, socket_, deadline, [&] { return SSL_read(ssl_, buffer, sizeof buffer); }, received);
    if (read.outcome != Outcome::Answered) return read;
    bytes.append(buffer, static_cast<std::size_t>(received));
    if (headEnd != std::string::npos) continue;
    const std::size_t blank = bytes.find("\r\n\r\n");
    if (blank == std::string::npos) {
      if (bytes.size() > kLargestHead) return Problem(Outcome::Failed, "header block too large");
      continue;
    }
    headEnd = blank + 4;
    std::string lower = bytes.substr(0, blank);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t length = lower.find("\r\ncontent-length:");
    if (length != std::string::npos) {
      bodyLength = std::strtoull(lower.c_str() + length + 17, nullptr, 10);
      if (bodyLength > kLargestBody) return Problem(Outcome::Failed, "body too large");
    }
  }
  Answer answer;
  if (bytes.compare(0, 9, "HTTP/1.1 ") != 0 || bytes.size() < 12) {
    return Problem(Outcome::Failed, "no HTTP/1.1 status line");
  }
  answer.outcome = Outcome::Answered;
  answer.status = std::atoi(bytes.c_str() + 9);
  answer.body = bytes.substr(headEnd, bodyLength);
  if (HasCloseToken(std::string_view(bytes).substr(0, headEnd))) Drop();
  return answer;
}

}  // namespace qardex::service_client
