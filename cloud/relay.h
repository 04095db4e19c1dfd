// Byte moving over the server connection: the HTTP CONNECT dialogue with the
// user's proxy, line reads, the chunked send and the "<E>"-framed receive.
#pragma once

#include <cstddef>
#include <string>

#include "cloud/stream_socket.h"

namespace qardex::cloud {

// Limits that keep a silent or broken peer from blocking the page for ever.
inline constexpr int kProxyDialogueLimitMs = 30'000;
inline constexpr int kFramedReplyLimitMs = 60'000;  // once the first bytes arrived
inline constexpr int kMaxFailedSelects = 10;
inline constexpr int kMaxFailedReceives = 100;

inline constexpr std::size_t kLineBufferSize = 1024;
inline constexpr std::size_t kSendChunk = 4096;
inline constexpr char kFrameTrailer[] = "<E>";

// Set once a proxy asks for basic authentication; from then on every tunnel
// through a proxy fails in this process (no credentials are ever sent).
bool ProxyBasicAuthSeen();
void ResetProxyBasicAuthSeenForTests();

// Formats one line and sends it with a single send(); 0 or -1.
int send_text(StreamSocket& socket, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Reads one line byte by byte, keeping its line feed, into `buffer` (NUL
// terminated; empty only when the stream ended first). Waits no longer than
// `deadlineMs` on the socket's clock. 0, or -1 on a socket error or timeout.
int recv_line(StreamSocket& socket, char* buffer, std::size_t size, std::int64_t deadlineMs);

// Ends the token at `text` at its first delimiter, blanks the delimiters that
// follow and returns the position after them; null when the token is empty.
char* next_token(char* text, const char* delimiters);

// 0 readable, -2 timed out, -1 not readable (or select kept failing).
int wait_readable(StreamSocket& socket, int seconds);
int wait_readable_ms(StreamSocket& socket, int milliseconds);

// Sends everything in pieces of at most 4096 bytes: 0, or -(error number).
int send_all(StreamSocket& socket, const char* data, std::size_t length, int flags = 0,
             std::size_t offset = 0);

// Receives one message ending in "<E>": the bytes received (trailer
// included), 0 when the stream ended or the buffer filled first, -1 when
// nothing came within `waitSeconds`, the socket failed, or the rest of the
// message did not arrive within the overall limit.
int recv_framed(StreamSocket& socket, char* buffer, std::size_t size, int flags, int waitSeconds);

// The proxy dialogue: "CONNECT host:port HTTP/1.0" and a blank line, then the
// answer. 0 tunnel open, 1 basic authentication asked or redirected, -1 failed.
int begin_http_relay(StreamSocket& socket, const std::string& host, int port);

// The status of an HTTP status line: the number after the first blank; -1
// when the line has no blank (an unknown status).
int ParseStatusCode(const char* line);

}  // namespace qardex::cloud
