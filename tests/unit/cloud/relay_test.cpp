#include <gtest/gtest.h>

#include <cstring>

#include "cloud/proxy_text.h"
#include "cloud/relay.h"
#include "tests/unit/fakes/fake_stream.h"
#include "tests/unit/fakes/log_capture.h"

namespace qardex::cloud {
namespace {

using testing::FakeStream;
using testing::LogCapture;

TEST(ProxyText, SplitsAtTheFirstColon) {
  ProxyEndpoint endpoint = SplitProxyText("proxy.example:8080");
  EXPECT_TRUE(endpoint.useProxy);
  EXPECT_EQ(endpoint.host, "proxy.example");
  EXPECT_EQ(endpoint.port, 8080);
  endpoint = SplitProxyText("first:3128;second:8080");
  EXPECT_EQ(endpoint.host, "first");
  EXPECT_EQ(endpoint.port, 3128);  // read up to the semicolon
  endpoint = SplitProxyText("nocolon");
  EXPECT_TRUE(endpoint.useProxy);
  EXPECT_EQ(endpoint.port, 0);  // connects nowhere, so the call fails later
  EXPECT_FALSE(SplitProxyText(":8080").useProxy);
  EXPECT_FALSE(SplitProxyText("").useProxy);
  EXPECT_EQ(SplitProxyText("h:abc").port, 0);
  EXPECT_EQ(SplitProxyText("h: 81x").port, 81);
  EXPECT_EQ(SplitProxyText("h:99999999999999").port, 2147483647);  // saturates
}

TEST(ProxyText, OverlongTextsAreCutSafely) {
  const std::string longHost(80, 'h');
  ProxyEndpoint endpoint = SplitProxyText(longHost + ":3128");
  EXPECT_EQ(endpoint.host, std::string(kProxyHostLimit, 'h'));
  EXPECT_EQ(endpoint.port, 3128);
  // Only the first 255 bytes count: a colon beyond them is not seen.
  endpoint = SplitProxyText(std::string(300, 'x') + ":1");
  EXPECT_EQ(endpoint.port, 0);
  EXPECT_EQ(endpoint.host.size(), kProxyHostLimit);
}

TEST(Relay, NextTokenBlanksDelimitersAndSkipsThem) {
  char header[] = "proxy-authenticate:   basic realm=x\r\n";
  char* scheme = next_token(header, " ");
  ASSERT_NE(scheme, nullptr);
  EXPECT_STREQ(header, "proxy-authenticate:");
  EXPECT_STREQ(scheme, "basic realm=x\r\n");
  char* rest = next_token(scheme, " ");
  EXPECT_STREQ(scheme, "basic");
  EXPECT_STREQ(rest, "realm=x\r\n");
  char leading[] = " x";
  EXPECT_EQ(next_token(leading, " "), nullptr);
  char last[] = "token";
  EXPECT_EQ(next_token(last, " "), last + 5);  // the end of the text
  EXPECT_EQ(next_token(nullptr, " "), nullptr);
}

TEST(Relay, StatusLineParsing) {
  EXPECT_EQ(ParseStatusCode("HTTP/1.0 200 Connection established\r\n"), 200);
  EXPECT_EQ(ParseStatusCode("HTTP/1.1   407 Proxy Authentication Required\r\n"), 407);
  EXPECT_EQ(ParseStatusCode("HTTP/1.0 302\r\n"), 302);
  EXPECT_EQ(ParseStatusCode("HTTP/1.0\r\n"), -1);  // no blank: unknown status
  EXPECT_EQ(ParseStatusCode("HTTP/1.0 abc\r\n"), 0);
  EXPECT_EQ(ParseStatusCode("HTTP/1.0 9999999999\r\n"), -1);
}

TEST(Relay, RecvLineKeepsTheLineFeedAndStopsAtTheBufferEnd) {
  FakeStream peer;
  peer.Data("HTTP/1.0 200 OK\r\nNext").Close();
  char line[64];
  ASSERT_EQ(recv_line(peer, line, sizeof line, 1000), 0);
  EXPECT_STREQ(line, "HTTP/1.0 200 OK\r\n");
  ASSERT_EQ(recv_line(peer, line, 3, 1000), 0);
  EXPECT_STREQ(line, "Ne");
  ASSERT_EQ(recv_line(peer, line, sizeof line, 1000), 0);
  EXPECT_STREQ(line, "xt");  // the stream ended without a line feed
  ASSERT_EQ(recv_line(peer, line, sizeof line, 1000), 0);
  EXPECT_STREQ(line, "");  // empty only at the end of the stream
  EXPECT_EQ(recv_line(peer, line, 0, 1000), 0);
}

TEST(Relay, RecvFramedJoinsPiecesUntilTheTrailer) {
  FakeStream peer;
  peer.Data("Hel").Silence(500).Data("lo <").Data("E>");
  char buffer[64] = {};
  EXPECT_EQ(recv_framed(peer, buffer, sizeof buffer, 0, 20), 9);
  EXPECT_EQ(std::string(buffer, 9), "Hello <E>");
}

TEST(Relay, RecvFramedEndsOnCloseSilenceFullBufferAndFailures) {
  char buffer[16] = {};
  FakeStream closesEarly;
  closesEarly.Data("02ABC").Close();
  EXPECT_EQ(recv_framed(closesEarly, buffer, sizeof buffer, 0, 20), 0);

  FakeStream silent;
  silent.Silence(25'000).Data("late<E>");
  EXPECT_EQ(recv_framed(silent, buffer, sizeof buffer, 0, 20), -1);
  EXPECT_EQ(silent.now, 20'000);

  FakeStream neverEnds;  // first bytes arrive, then nothing for ever
  neverEnds.Data("02").Silence(10'000'000);
  EXPECT_EQ(recv_framed(neverEnds, buffer, sizeof buffer, 0, 20), -1);
  EXPECT_LE(neverEnds.now, kFramedReplyLimitMs + 1000);

  FakeStream flood;  // more than the buffer holds, no trailer
  flood.Data(std::string(40, 'x'));
  EXPECT_EQ(recv_framed(flood, buffer, 8, 0, 20), 0);
  EXPECT_EQ(std::string(buffer, 8), std::string(8, 'x'));
  EXPECT_EQ(buffer[8], 0);  // nothing written past the given size

  FakeStream broken;
  for (int i = 0; i < 1000; ++i) broken.RecvError();
  EXPECT_EQ(recv_framed(broken, buffer, sizeof buffer, 0, 20), -1);
  EXPECT_LE(broken.recvCalls, kMaxFailedReceives + 1);

  FakeStream trickle;  // bytes always waiting, so select never times out
  trickle.Data("0").Flood("x", 100, 100'000);
  char reply[1024] = {};
  EXPECT_EQ(recv_framed(trickle, reply, sizeof reply, 0, 20), -1);
  EXPECT_LE(trickle.now, kFramedReplyLimitMs + 100);

  FakeStream oneHiccup;
  oneHiccup.RecvError().Data("OK<E>");
  EXPECT_EQ(recv_framed(oneHiccup, buffer, sizeof buffer, 0, 20), 5);
}

TEST(Relay, WaitReadableRetriesAFailingSelectOnlyABoundedNumberOfTimes) {
  FakeStream peer;
  peer.SelectError().Data("x");
  EXPECT_EQ(wait_readable(peer, 1), 0);
  FakeStream failing;
  for (int i = 0; i < 1000; ++i) failing.SelectError();
  EXPECT_EQ(wait_readable(failing, 1), -1);
  EXPECT_EQ(failing.selectCalls, kMaxFailedSelects);
  FakeStream silent;
  silent.Silence(5000);
  EXPECT_EQ(wait_readable(silent, 2), -2);
}

TEST(Relay, SendAllSendsInPiecesAndReportsTheErrorNumber) {
  FakeStream peer;
  peer.sendLimit = 1000;
  const std::string message(10'000, 'm');
  EXPECT_EQ(send_all(peer, message.data(), message.size()), 0);
  EXPECT_EQ(peer.sent, message);
  peer.failSendsWith = 10054;
  EXPECT_EQ(send_all(peer, message.data(), message.size()), -10054);
}

struct ProxyDialogue : ::testing::Test {
  ProxyDialogue() { ResetProxyBasicAuthSeenForTests(); }
  ~ProxyDialogue() override { ResetProxyBasicAuthSeenForTests(); }
  LogCapture log;
  FakeStream proxy;
};

TEST_F(ProxyDialogue, TunnelOpensAfterTheHeaders) {
  proxy.Data("HTTP/1.0 200 Connection established\r\nProxy-agent: test\r\n\r\nHello <E>");
  EXPECT_EQ(begin_http_relay(proxy, "auth.qardex.example", 443), 0);
  EXPECT_EQ(proxy.sent, "CONNECT auth.qardex.example:443 HTTP/1.0\r\n\r\n");
  // The server's first bytes are still unread.
  char buffer[32] = {};
  EXPECT_EQ(recv_framed(proxy, buffer, sizeof buffer, 0, 20), 9);
  const std::string text = log.Text();
  EXPECT_NE(text.find("begin_http_relay()\n"), std::string::npos);
  EXPECT_NE(text.find("connected, start user session.\n"), std::string::npos);
}

TEST_F(ProxyDialogue, HeadersThatNeverEndFail) {
  proxy.Data("HTTP/1.0 200 OK\r\nX: y\r\n").Close();
  EXPECT_EQ(begin_http_relay(proxy, "h", 443), -1);
  EXPECT_NE(log.Text().find("Can't skip response headers\n"), std::string::npos);

  FakeStream stalled;  // headers trickle in slower than the dialogue may last
  stalled.Data("HTTP/1.0 200 OK\r\n");
  for (int i = 0; i < 100; ++i) stalled.Silence(1000).Data("X: y\r\n");
  EXPECT_EQ(begin_http_relay(stalled, "h", 443), -1);
  EXPECT_LE(stalled.now, kProxyDialogueLimitMs + 1000);

  FakeStream flood;  // header lines without a pause: only the clock ends the dialogue
  flood.Data("HTTP/1.0 200 OK\r\n").Flood("X-Flood: y\r\n", 1, 200'000);
  EXPECT_EQ(begin_http_relay(flood, "h", 443), -1);
  EXPECT_LE(flood.now, kProxyDialogueLimitMs);
  EXPECT_NE(log.Text().find("proxy did not answer in time\n"), std::string::npos);
}

TEST_F(ProxyDialogue, BasicChallengeBlocksEveryLaterTunnel) {
  proxy.Data(
      "HTTP/1.0 407 Proxy Authentication Required\r\n"
      "Proxy-Authenticate: Basic realm=\"proxy\"\r\n\r\n");
  EXPECT_EQ(begin_http_relay(proxy, "h", 443), 1);
  EXPECT_TRUE(ProxyBasicAuthSeen());

  FakeStream second;
  second.Data("HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(begin_http_relay(second, "h", 443), -1);
  EXPECT_EQ(second.sent, "CONNECT h:443 HTTP/1.0\r\n");  // no closing blank line
}

TEST_F(ProxyDialogue, UnsupportedSchemesAreLoggedThenMissingBasicFails) {
  proxy.Data(
      "HTTP/1.0 407 Proxy Authentication Required\r\n"
      "Proxy-Authenticate: NTLM\r\nProxy-Authenticate: Negotiate abc\r\n\r\n");
  EXPECT_EQ(begin_http_relay(proxy, "h", 443), -1);
  EXPECT_FALSE(ProxyBasicAuthSeen());
  const std::string text = log.Text();
  EXPECT_NE(text.find("Unsupported authentication type: ntlm\r\n"), std::string::npos);
  EXPECT_NE(text.find("Unsupported authentication type: negotiate:"), std::string::npos);
  EXPECT_NE(text.find("Can't find Proxy-Authenticate: in response header."), std::string::npos);
}

TEST_F(ProxyDialogue, WwwAuthenticateFor401AndMalformedChallenge) {
  proxy.Data("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate:\r\n\r\n");
  EXPECT_EQ(begin_http_relay(proxy, "h", 443), -1);
  EXPECT_NE(log.Text().find("Invalid format of WWW-Authenticate: field."), std::string::npos);

  FakeStream basic401;
  basic401.Data("HTTP/1.0 401 Unauthorized\r\nwww-authenticate: basic\r\n\r\n");
  EXPECT_EQ(begin_http_relay(basic401, "h", 443), 1);
}

TEST_F(ProxyDialogue, OtherStatusesAndBrokenDialogues) {
  proxy.Data("HTTP/1.0 302 Found\r\n\r\n");
  EXPECT_EQ(begin_http_relay(proxy, "h", 443), 1);

  FakeStream forbidden;
  forbidden.Data("HTTP/1.0 403 Forbidden\r\n\r\n");
  EXPECT_EQ(begin_http_relay(forbidden, "h", 443), -1);
  FakeStream noBlank;
  noBlank.Data("garbage\r\n");
  EXPECT_EQ(begin_http_relay(noBlank, "h", 443), -1);
  EXPECT_NE(log.Text().find("http proxy is not allowed.\n"), std::string::npos);

  FakeStream reset;
  reset.RecvError();
  EXPECT_EQ(begin_http_relay(reset, "h", 443), -1);
  const std::string text = log.Text();
  EXPECT_NE(text.find("recv() error\n"), std::string::npos);
  EXPECT_NE(text.find("failed to read http response.\n"), std::string::npos);

  FakeStream refusesSend;
  refusesSend.failSendsWith = 10053;
  EXPECT_EQ(begin_http_relay(refusesSend, "h", 443), -1);
  EXPECT_NE(log.Text().find("failed to send http request. errno=10053\n"), std::string::npos);
}

}  // namespace
}  // namespace qardex::cloud
