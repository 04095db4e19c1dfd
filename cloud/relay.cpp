#include "cloud/relay.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "diag/error_log.h"

namespace qardex::cloud {

using diag::AppendErrorLog;

namespace {

std::atomic<bool> proxyBasicAuthSeen{false};

constexpr int kMaxLineBytes = 1024;

bool EndsWithTrailer(const char* data, std::size_t length) {
  const std::size_t trailer = sizeof kFrameTrailer - 1;
  return length >= trailer && std::memcmp(data + length - trailer, kFrameTrailer, trailer) == 0;
}

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*text)) !=
        std::tolower(static_cast<unsigned char>(*prefix))) {
      return false;
    }
  }
  return true;
}

int RemainingMs(StreamSocket& socket, std::int64_t deadlineMs) {
  const std::int64_t left = deadlineMs - socket.NowMs();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

bool ProxyBasicAuthSeen() { return proxyBasicAuthSeen.load(); }
void ResetProxyBasicAuthSeenForTests() { proxyBasicAuthSeen.store(false); }

int send_text(StreamSocket& socket, const char* format, ...) {
  char line[kMaxLineBytes] = {};  // each call has its own buffer
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (formatted < 0) return -1;
  const int length = static_cast<int>(std::strlen(line));
  if (socket.Send(line, length) < 0) {
    AppendErrorLog("failed to send http request. errno=%d\n", socket.LastError());
    return -1;
  }
  return 0;
}

int wait_readable_ms(StreamSocket& socket, int milliseconds) {
  for (int attempt = 0; attempt < kMaxFailedSelects; ++attempt) {
    bool readable = false;
    const int answer = socket.SelectReadable(milliseconds, readable);
    if (answer > 0) return readable ? 0 : -1;
    if (answer == 0) return -2;
    socket.Pause(1);  // select failed: try again, a bounded number of times
  }
  return -1;
}

int wait_readable(StreamSocket& socket, int seconds) {
  return wait_readable_ms(socket, seconds * 1000);
}

int recv_line(StreamSocket& socket, char* buffer, std::size_t size, std::int64_t deadlineMs) {
  if (size == 0) return 0;
  std::size_t used = 0;
  while (used + 1 < size) {
    // The clock decides, not select alone: with bytes always waiting, a select
    // with no time left still reports the socket readable.
    const int left = RemainingMs(socket, deadlineMs);
    if (left == 0 || wait_readable_ms(socket, left) != 0) {
      buffer[used] = '\0';
      AppendErrorLog("proxy did not answer in time\n");
      return -1;
    }
    char byte = 0;
    const int received = socket.Recv(&byte, 1);
    if (received < 0) {
      buffer[used] = '\0';
      AppendErrorLog("recv() error\n");
      return -1;
    }
    if (received == 0) break;
    buffer[used++] = byte;
    if (byte == '\n') break;
  }
  buffer[used] = '\0';
  return 0;
}

char* next_token(char* text, const char* delimiters) {
  if (text == nullptr || *text == '\0' || std::strchr(delimiters, *text) != nullptr) {
    return nullptr;
  }
  char* end = text + std::strcspn(text, delimiters);
  while (*end != '\0' && std::strchr(delimiters, *end) != nullptr) *end++ = '\0';
  return end;
}

int send_all(StreamSocket& socket, const char* data, std::size_t length, int, std::size_t offset) {
  while (offset < length) {
    const std::size_t piece = std::min(length - offset, kSendChunk);
    const int sent = socket.Send(data + offset, static_cast<int>(piece));
    if (sent <= 0) return -socket.LastError();
    offset += static_cast<std::size_t>(sent);
  }
  return 0;
}

int recv_framed(StreamSocket& socket, char* buffer, std::size_t size, int, int waitSeconds) {
  if (wait_readable(socket, waitSeconds) != 0) return -1;
  const std::int64_t deadline = socket.NowMs() + kFramedReplyLimitMs;
  std::size_t total = 0;
  int failures = 0;
  for (;;) {
    if (total >= size) return 0;  // a full buffer ends the reply like the end of the stream
    // Checked at every turn: a peer that keeps trickling bytes never lets select time out.
    const int left = RemainingMs(socket, deadline);
    if (left == 0) return -1;
    if (total > 0 && wait_readable_ms(socket, left) != 0) return -1;
    const int received = socket.Recv(buffer + total, static_cast<int>(size - total));
    if (received < 0) {
      if (++failures > kMaxFailedReceives) return -1;
      socket.Pause(1);
      continue;
    }
    if (received == 0) return 0;
    failures = 0;
    total += static_cast<std::size_t>(received);
    if (EndsWithTrailer(buffer, total)) return static_cast<int>(total);
    socket.Pause(1);
  }
}

int ParseStatusCode(const char* line) {
  const char* blank = std::strchr(line, ' ');
  if (blank == nullptr) return -1;
  while (*blank == ' ') ++blank;
  int status = 0;
  for (; *blank >= '0' && *blank <= '9'; ++blank) {
    status = status * 10 + (*blank - '0');
    if (status > 99999) return -1;
  }
  return status;
}

namespace {

// Reads header lines up to the blank line; false when the stream ended or failed first.
bool SkipHeaders(StreamSocket& socket, std::int64_t deadline) {
  char line[kLineBufferSize] = {};
  for (;;) {
    if (recv_line(socket, line, sizeof line, deadline) != 0 || line[0] == '\0') return false;
    if (std::strcmp(line, "\r\n") == 0) return true;
  }
}

// Looks through the headers for the challenge; returns -1 (malformed), or
// 0 when the headers have been read.
int ScanChallenges(StreamSocket& socket, const char* headerName, std::int64_t deadline) {
  char line[kLineBufferSize] = {};
  for (;;) {
    if (recv_line(socket, line, sizeof line, deadline) != 0 || line[0] == '\0') return 0;
    if (std::strcmp(line, "\r\n") == 0) return 0;
    for (char* c = line; *c; ++c)
      *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    if (!StartsWithIgnoringCase(line, headerName)) continue;
    char* scheme = next_token(line, " ");
    if (scheme == nullptr || *scheme == '\0') {
      AppendErrorLog("Invalid format of %s field.", headerName);
      return -1;
    }
    next_token(scheme, " ");  // the scheme ends at the next blank
    if (std::strncmp(scheme, "basic", 5) == 0) {
      proxyBasicAuthSeen.store(true);
    } else {
      AppendErrorLog("Unsupported authentication type: %s", scheme);
    }
  }
}

}  // namespace

int begin_http_relay(StreamSocket& socket, const std::string& host, int port) {
  AppendErrorLog("begin_http_relay()\n");
  const std::int64_t deadline = socket.NowMs() + kProxyDialogueLimitMs;
  if (send_text(socket, "CONNECT %s:%d HTTP/1.0\r\n", host.c_str(), port) != 0) return -1;
  if (proxyBasicAuthSeen.load()) return -1;  // no credentials are ever sent
  if (send_text(socket, "\r\n") != 0) return -1;

  char statusLine[kLineBufferSize] = {};
  if (recv_line(socket, statusLine, sizeof statusLine, deadline) != 0) {
    AppendErrorLog("failed to read http response.\n");
    return -1;
  }
  const int status = ParseStatusCode(statusLine);
  switch (status) {
    case 200:
      AppendErrorLog("connected, start user session.\n");
      if (!SkipHeaders(socket, deadline)) {
        AppendErrorLog("Can't skip response headers\n");
        return -1;
      }
      return 0;
    case 302:
      return 1;
    case 401:
    case 407: {
      if (proxyBasicAuthSeen.load()) {
        AppendErrorLog("Authentication failed.\n");
        return -1;
      }
      const char* header = status == 401 ? "WWW-Authenticate:" : "Proxy-Authenticate:";
      if (ScanChallenges(socket, header, deadline) != 0) return -1;
      if (!proxyBasicAuthSeen.load()) {
        AppendErrorLog("Can't find %s in response header.", header);
        return -1;
      }
      return 1;
    }
    default:
      AppendErrorLog("http proxy is not allowed.\n");
      return -1;
  }
}

}  // namespace qardex::cloud
