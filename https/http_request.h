// An HTTP/1.1 request read incrementally from a connection, with hard bounds
// on the header block, the number of header lines and the body.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qardex::service {

struct RequestLimits {
  std::size_t headerBytes = 8192;  // request line and header lines together
  std::size_t headerCount = 32;
  std::size_t body = 4096;
  // A larger body is read and thrown away up to this size so that the client
  // gets the 413 rather than a reset. A Content-Length beyond it is no length
  // this service reads: 400 at once, from its digits, and the connection ends.
  std::size_t drain = 64 * 1024;
};

struct HttpRequest {
  std::string method;
  std::string target;  // as sent, starting with "/"
  bool http10 = false;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;
  bool keepAlive = true;

  // The value of a header that occurs at most once (the parser refuses repeats
  // of the headers it gives meaning to).
  std::optional<std::string_view> Header(std::string_view lowerName) const;
};

class RequestParser {
 public:
  explicit RequestParser(RequestLimits limits = {}) : limits_(limits) {}

  enum class Status { NeedMore, Complete, Failed };
  // Reads from `data`; `consumed` tells how many of its bytes were used (the
  // rest belong to the next request). After Complete or Failed, Reset() before
  // feeding again.
  Status Feed(std::string_view data, std::size_t& consumed);

  // Valid after Complete; after Failed, holds whatever headers were read.
  const HttpRequest& Request() const { return request_; }
  // 400 malformed, 413 body too large, 431 header block too large.
  int FailureStatus() const { return failure_; }
  // True once a request's first byte has arrived and it is not yet complete.
  bool InRequest() const { return phase_ != Phase::Head || !head_.empty(); }

  void Reset();

 private:
  enum class Phase { Head, Body, Drain, Done };
  Status Fail(int status);
  Status ParseHead();

  RequestLimits limits_;
  Phase phase_ = Phase::Head;
  std::string head_;
  std::size_t bodyLength_ = 0;
  std::size_t remaining_ = 0;
  HttpRequest request_;
  int failure_ = 0;
};

}  // namespace qardex::service
