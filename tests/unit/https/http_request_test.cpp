#include <gtest/gtest.h>

#include "https/http_request.h"

namespace qardex::service {
namespace {

struct Outcome {
  RequestParser::Status status;
  int failure;
  std::size_t consumed;
};

// Feeds `text` in pieces of `step` bytes; stops at the first final status.
Outcome FeedAll(RequestParser& parser, std::string_view text, std::size_t step = 4096) {
  std::size_t total = 0;
  while (total < text.size()) {
    std::size_t used = 0;
    const auto status = parser.Feed(text.substr(total, step), used);
    total += used;
    if (status != RequestParser::Status::NeedMore) return {status, parser.FailureStatus(), total};
  }
  return {RequestParser::Status::NeedMore, 0, total};
}

const std::string kPost =
    "POST /v1/session/a/GetName HTTP/1.1\r\nHost: h:1\r\nContent-Length: 11\r\n"
    "Origin: http://localhost\r\n\r\n{\"args\":[]}";

TEST(HttpRequest, SameRequestWhateverTheReadSizes) {
  for (const std::size_t step : {1u, 2u, 3u, 7u, 4096u}) {
    RequestParser parser;
    const Outcome outcome = FeedAll(parser, kPost + "GET /next", step);
    ASSERT_EQ(outcome.status, RequestParser::Status::Complete) << step;
    EXPECT_EQ(outcome.consumed, kPost.size());  // the pipelined request is left alone
    const HttpRequest& request = parser.Request();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/v1/session/a/GetName");
    EXPECT_EQ(request.Header("origin"), std::optional<std::string_view>("http://localhost"));
    EXPECT_EQ(request.body, "{\"args\":[]}");
    EXPECT_TRUE(request.keepAlive);
  }
}

TEST(HttpRequest, ConnectionHandling) {
  const struct {
    const char* head;
    bool keepAlive;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: h\r\nConnection: keep-alive, Close\r\n\r\n", false},
      {"GET / HTTP/1.0\r\n\r\n", false},
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true},
      {"GET / HTTP/1.1\nHost: h\n\n", true},  // bare line feeds
  };
  for (const auto& c : cases) {
    RequestParser parser;
    ASSERT_EQ(FeedAll(parser, c.head).status, RequestParser::Status::Complete) << c.head;
    EXPECT_EQ(parser.Request().keepAlive, c.keepAlive) << c.head;
  }
}

TEST(HttpRequest, MalformedRequestsAre400) {
  const char* heads[] = {
      "GET /\r\nHost: h\r\n\r\n",
      "GET  / HTTP/1.1\r\nHost: h\r\n\r\n",
      "GET / HTTP/2.0\r\nHost: h\r\n\r\n",
      "GET x HTTP/1.1\r\nHost: h\r\n\r\n",
      "G(T / HTTP/1.1\r\nHost: h\r\n\r\n",
      "GET / HTTP/1.1\r\n\r\n",  // no Host
      "GET / HTTP/1.1\r\nHost: h\r\nHost: h\r\n\r\n",
      "GET / HTTP/1.1\r\nHost : h\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\r\n folded\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\rX\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\r\nX: a\x01z\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\r\nOrigin: a\r\nOrigin: b\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: -1\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1 2\r\n\r\n",
      "\r\nGET / HTTP/1.1\r\nHost: h\r\n\r\n",
  };
  for (const char* head : heads) {
    RequestParser parser;
    const Outcome outcome = FeedAll(parser, head);
    EXPECT_EQ(outcome.status, RequestParser::Status::Failed) << head;
    EXPECT_EQ(outcome.failure, 400) << head;
  }
}

TEST(HttpRequest, HeaderBounds) {
  RequestLimits limits;
  limits.headerBytes = 100;
  limits.headerCount = 3;
  const std::string start = "GET / HTTP/1.1\r\nHost: h\r\n";
  const struct {
    std::string text;
    RequestParser::Status status;
  } cases[] = {
      {start + "A: " + std::string(100 - start.size() - 3, 'x') + "\r\n\r\n",
       RequestParser::Status::Complete},  // exactly at the bound
      {start + "A: " + std::string(100 - start.size() - 2, 'x') + "\r\n\r\n",
       RequestParser::Status::Failed},
      {start + std::string(200, 'x'), RequestParser::Status::Failed},  // never ends
      {start + "A: 1\r\nB: 2\r\n\r\n", RequestParser::Status::Complete},
      {start + "A: 1\r\nB: 2\r\nC: 3\r\n\r\n", RequestParser::Status::Failed},
  };
  for (const auto& c : cases) {
    for (const std::size_t step : {1u, 4096u}) {
      RequestParser parser(limits);
      const Outcome outcome = FeedAll(parser, c.text, step);
      EXPECT_EQ(outcome.status, c.status) << c.text;
      if (c.status == RequestParser::Status::Failed) {
        EXPECT_EQ(outcome.failure, 431) << c.text;
      }
    }
  }
}

TEST(HttpRequest, OversizedBodyIsDrainedThen413) {
  const auto post = [](std::size_t length) {
    return "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  };
  RequestParser fits;
  EXPECT_EQ(FeedAll(fits, post(4096) + std::string(4096, 'b')).status,
            RequestParser::Status::Complete);

  RequestParser drained;
  const std::string head = post(5000);
  // Not answered before the whole body has been read.
  EXPECT_EQ(FeedAll(drained, head + std::string(4999, 'b')).status,
            RequestParser::Status::NeedMore);
  std::size_t used = 0;
  EXPECT_EQ(drained.Feed("bGET", used), RequestParser::Status::Failed);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(drained.FailureStatus(), 413);
  EXPECT_TRUE(drained.Request().body.empty());  // nothing kept

  RequestParser beyond;
  const Outcome at_once = FeedAll(beyond, post(64 * 1024 + 1));
  EXPECT_EQ(at_once.failure, 400) << "no length this service reads";
}

// Lengths are read digit by digit against the largest one read at all, so none wraps the size
// type (on 32 bits 4294967297 read as 1 and the rest of the body as a second request).
TEST(HttpRequest, ContentLengthBeyondTheLimitIsRefusedFromItsDigits) {
  using Status = RequestParser::Status;
  const std::pair<std::string, Status> cases[] = {{"4294967297", Status::Failed},
                                                  {"18446744073709551617", Status::Failed},
                                                  {"0000000000000000000000001", Status::Complete},
                                                  {"65537", Status::Failed}};
  for (const auto& [length, status] : cases) {
    RequestParser parser;
    const Outcome outcome =
        FeedAll(parser, "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: " + length +
                            "\r\n\r\nbGET / HTTP/1.1");
    EXPECT_EQ(outcome.status, status) << length;
    EXPECT_EQ(outcome.failure, status == Status::Failed ? 400 : 0) << length;
  }
}

}  // namespace
}  // namespace qardex::service
