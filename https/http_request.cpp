#include "https/http_request.h"

#include <algorithm>

#include "common/text_conversion.h"

namespace qardex::service {

namespace {

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Visible characters, blanks and bytes above 127; no other control bytes.
bool IsFieldValue(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7F);
  });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Does a comma-separated header value hold this token (case-insensitive)?
bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (common::AsciiLower(TrimBlanks(list.substr(0, comma))) == token) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// The headers the service gives meaning to may occur only once.
constexpr std::string_view kSingleHeaders[] = {"host", "origin", "content-length",
                                               "access-control-request-method"};

// A Content-Length of at most `largest`, read digit by digit: a longer value is refused before
// it could overflow the size type (on the 32-bit build 4294967297 would read as 1 and the rest
// of its body as a second request). Nothing for anything but digits, or a value above `largest`.
std::optional<std::size_t> BodyLength(std::string_view text, std::size_t largest) {
  if (text.empty()) return std::nullopt;
  std::size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::size_t>(c - '0');
    if (digit > largest || value > (largest - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::optional<std::string_view> HttpRequest::Header(std::string_view lowerName) const {
  for (const auto& [name, value] : headers) {
    if (name == lowerName) return std::string_view(value);
  }
  return std::nullopt;
}

void RequestParser::Reset() {
  phase_ = Phase::Head;
  head_.clear();
  bodyLength_ = remaining_ = 0;
  request_ = HttpRequest{};
  failure_ = 0;
}

RequestParser::Status RequestParser::Fail(int status) {
  failure_ = status;
  phase_ = Phase::Done;
  return Status::Failed;
}

RequestParser::Status RequestParser::Feed(std::string_view data, std::size_t& consumed) {
  consumed = 0;
  if (phase_ == Phase::Done) return failure_ != 0 ? Status::Failed : Status::Complete;

  if (phase_ == Phase::Head) {
    // Look for the empty line, starting a little before the new bytes in case
    // it straddles two reads.
    const std::size_t before = head_.size();
    const std::size_t room = limits_.headerBytes + 4 - std::min(before, limits_.headerBytes + 4);
    head_.append(data.substr(0, room));
    std::size_t end = std::string::npos;  // where the last header line's text ends
    std::size_t headEnd = 0;              // just past the empty line
    for (std::size_t i = before >= 3 ? before - 3 : 0; i < head_.size(); ++i) {
      if (head_[i] != '\n' || i == 0) continue;
      std::size_t previous = i - 1;
      if (head_[previous] == '\r' && previous > 0) --previous;
      if (head_[previous] != '\n') continue;
      end = previous > 0 && head_[previous - 1] == '\r' ? previous - 1 : previous;
      headEnd = i + 1;
      break;
    }
    if (end == std::string::npos) {
      consumed = data.size() < room ? data.size() : room;
      if (head_.size() >= limits_.headerBytes + 4) return Fail(431);
      return Status::NeedMore;
    }
    if (end > limits_.headerBytes) return Fail(431);
    consumed = headEnd - before;
    head_.resize(end);
    const Status parsed = ParseHead();
    if (parsed != Status::NeedMore) return parsed;
    data.remove_prefix(consumed);
  }

  const std::size_t take = std::min(remaining_, data.size());
  if (phase_ == Phase::Body) request_.body.append(data.substr(0, take));
  remaining_ -= take;
  consumed += take;
  if (remaining_ > 0) return Status::NeedMore;
  if (phase_ == Phase::Drain) return Fail(413);
  phase_ = Phase::Done;
  return Status::Complete;
}

RequestParser::Status RequestParser::ParseHead() {
  std::string_view rest = head_;
  std::vector<std::string_view> lines;
  while (true) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (newline == std::string_view::npos) break;
    rest.remove_prefix(newline + 1);
  }
  for (const std::string_view line : lines) {
    if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos) {
      return Fail(400);
    }
  }

  // Request line: method SP target SP version.
  const std::string_view start = lines.front();
  const std::size_t space1 = start.find(' ');
  const std::size_t space2 =
      space1 == std::string_view::npos ? space1 : start.find(' ', space1 + 1);
  if (space2 == std::string_view::npos || start.find(' ', space2 + 1) != std::string_view::npos) {
    return Fail(400);
  }
  const std::string_view method = start.substr(0, space1);
  const std::string_view target = start.substr(space1 + 1, space2 - space1 - 1);
  const std::string_view version = start.substr(space2 + 1);
  if (!IsToken(method) || target.empty() || target.front() != '/') return Fail(400);
  for (const char c : target) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      return Fail(400);
    }
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return Fail(400);
  request_.method = std::string(method);
  request_.target = std::string(target);
  request_.http10 = version == "HTTP/1.0";

  if (lines.size() - 1 > limits_.headerCount) return Fail(431);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    // No folded continuation lines, no blank before the colon.
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Fail(400);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (!IsFieldValue(value)) return Fail(400);
    std::string name = common::AsciiLower(line.substr(0, colon));
    for (const std::string_view single : kSingleHeaders) {
      if (name == single && request_.Header(single)) return Fail(400);
    }
    request_.headers.emplace_back(std::move(name), std::string(value));
  }

  if (!request_.http10 && !request_.Header("host")) return Fail(400);
  // Only Content-Length framing: a transfer coding could hide a second request.
  if (request_.Header("transfer-encoding")) return Fail(400);
  const std::optional<std::string_view> connection = request_.Header("connection");
  request_.keepAlive = request_.http10 ? (connection && HasToken(*connection, "keep-alive"))
                                       : !(connection && HasToken(*connection, "close"));

  bodyLength_ = 0;
  if (const std::optional<std::string_view> length = request_.Header("content-length")) {
    const std::optional<std::size_t> parsed = BodyLength(*length, limits_.drain);
    if (!parsed) return Fail(400);
    bodyLength_ = *parsed;
  }
  remaining_ = bodyLength_;
  phase_ = bodyLength_ <= limits_.body ? Phase::Body : Phase::Drain;
  return Status::NeedMore;  // the caller goes on with the body
}

}  // namespace qardex::service
