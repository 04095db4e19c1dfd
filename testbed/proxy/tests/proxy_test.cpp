#include <gtest/gtest.h>
#include <sys/socket.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "testbed/proxy/proxy_session.h"

namespace proxy {
namespace {

using testnet::Clock;
using testnet::UniqueFd;

TEST(ProxyModes, ListsExpandCountsAndRefuseUnknownNames) {
    const auto list = parse_proxy_modes("407-basic,silent*2,302");
    ASSERT_EQ(list.error, "");
    EXPECT_EQ(list.modes, (std::vector<ProxyMode>{ProxyMode::kAuth407Basic, ProxyMode::kSilent,
                                                  ProxyMode::kSilent, ProxyMode::kRedirect}));
    EXPECT_EQ(parse_proxy_modes("407-digest").error, "unknown mode '407-digest'");
    EXPECT_EQ(parse_proxy_modes("302*0").error, "bad count in '302*0'");
    EXPECT_EQ(parse_proxy_modes("").error, "no mode given");
}

// The answers must be exactly the broken or unusual shapes their names promise.
TEST(ProxyModes, CannedAnswersHaveTheShapesTheirNamesPromise) {
    auto first_line = [](ProxyMode mode) {
        const std::string answer = *canned_answer(mode);
        return answer.substr(0, answer.find("\r\n"));
    };
    EXPECT_EQ(first_line(ProxyMode::kRedirect), "HTTP/1.0 302 Found");
    EXPECT_EQ(first_line(ProxyMode::kForbidden), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(first_line(ProxyMode::kStatusNoBlank).find(' '), std::string::npos);
    EXPECT_EQ(canned_answer(ProxyMode::kOkThenClose)->find("\r\n\r\n"), std::string::npos)
        << "the headers never end";
    const std::string ntlm = *canned_answer(ProxyMode::kAuth407Ntlm);
    EXPECT_EQ(ntlm.find("Basic"), std::string::npos);
    EXPECT_NE(ntlm.find("Proxy-Authenticate: NTLM\r\n"), std::string::npos);
    EXPECT_NE(canned_answer(ProxyMode::kAuth401Basic)->find("\r\nWWW-Authenticate: Basic "),
              std::string::npos);
    EXPECT_NE(canned_answer(ProxyMode::kAuth407NoScheme)->find("\r\nProxy-Authenticate:\r\n"),
              std::string::npos);
    for (ProxyMode mode : {ProxyMode::kEndlessHeaders, ProxyMode::kSilent, ProxyMode::kServeFile}) {
        EXPECT_FALSE(canned_answer(mode));
    }
}

TEST(ProxyModes, EscapingKeepsEveryByteVisible) {
    EXPECT_EQ(escape_bytes(std::string("CONNECT a:443 HTTP/1.0\r\n\r\n")),
              "CONNECT a:443 HTTP/1.0\\r\\n\\r\\n");
    EXPECT_EQ(escape_bytes(std::string("\\\x00\xFF", 3)), "\\\\\\x00\\xFF");
}

class ProxySession : public ::testing::Test {
 protected:
    void SetUp() override {
        log_path_ = ::testing::TempDir() + "proxy-session-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(log_path_.c_str());
    }

    UniqueFd start(ProxyMode mode) {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        proxy_end_ = UniqueFd(ends[0]);
        context_.request_wait = std::chrono::milliseconds(2000);
        context_.header_interval = std::chrono::milliseconds(20);
        context_.connection_limit = std::chrono::seconds(10);
        thread_ = std::thread([this, mode] {
            testnet::EventLog log(log_path_);
            serve_proxy_connection(proxy_end_, 1, mode, context_, log);
            proxy_end_.reset();
        });
        return UniqueFd(ends[1]);
    }

    std::string finish() {
        thread_.join();
        std::ifstream file(log_path_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Everything the proxy sends until it closes.
    static std::string read_to_end(const UniqueFd& socket) {
        testnet::StreamReader reader(socket);
        EXPECT_EQ(reader.fill(1 << 20, Clock::now() + std::chrono::seconds(5)),
                  testnet::ReadStatus::kClosed);
        return std::string(reader.buffered().begin(), reader.buffered().end());
    }

    ProxyContext context_;
    std::string log_path_;
    UniqueFd proxy_end_;
    std::thread thread_;
};

TEST_F(ProxySession, RecordsTheRequestAndAnswersIt) {
    UniqueFd client = start(ProxyMode::kAuth407Basic);
    testnet::send_text(client, "CONNECT auth.qardex.example:443 HTTP/1.0\r\n\r\n");
    testnet::StreamReader reader(client);
    EXPECT_EQ(reader.fill_until("\r\n\r\n", 4096, Clock::now() + std::chrono::seconds(5)),
              testnet::ReadStatus::kOk);
    const std::string answer(reader.buffered().begin(), reader.buffered().end());
    EXPECT_EQ(answer, *canned_answer(ProxyMode::kAuth407Basic));
    client.reset();
    EXPECT_EQ(finish(),
              "1 mode 407-basic\n"
              "1 request CONNECT auth.qardex.example:443 HTTP/1.0\\r\\n\\r\\n\n"
              "1 request-complete yes\n"
              "1 end answered and closed\n");
}

TEST_F(ProxySession, ARequestCutShortByTheClientGetsNoAnswer) {
    UniqueFd client = start(ProxyMode::kAuth407Basic);
    testnet::send_text(client, "CONNECT auth.qardex.example:443 HTTP/1.0\r\n");
    client.reset();
    const std::string log = finish();
    EXPECT_NE(log.find("1 request CONNECT auth.qardex.example:443 HTTP/1.0\\r\\n\n"
                       "1 request-complete no\n"
                       "1 end client closed before the blank line; no answer\n"),
              std::string::npos)
        << log;
}

TEST_F(ProxySession, EndlessHeadersStopWhenTheClientGivesUp) {
    UniqueFd client = start(ProxyMode::kEndlessHeaders);
    testnet::send_text(client, "CONNECT a:443 HTTP/1.0\r\n\r\n");
    testnet::StreamReader reader(client);
    EXPECT_EQ(reader.fill_until("line 3\r\n", 4096, Clock::now() + std::chrono::seconds(5)),
              testnet::ReadStatus::kOk);
    const std::string seen(reader.buffered().begin(), reader.buffered().end());
    EXPECT_EQ(seen.rfind("HTTP/1.0 200 Connection established\r\nX-Still-Coming: line 1\r\n", 0),
              0u);
    EXPECT_EQ(seen.find("\r\n\r\n"), std::string::npos);
    client.reset();
    EXPECT_NE(finish().find("1 end client closed after "), std::string::npos);
}

TEST_F(ProxySession, FloodedHeadersComeWithoutAPauseUntilTheClientGoes) {
    UniqueFd client = start(ProxyMode::kFloodHeaders);
    testnet::send_text(client, "CONNECT a:443 HTTP/1.0\r\n\r\n");
    testnet::StreamReader reader(client);
    reader.fill(1 << 20, Clock::now() + std::chrono::milliseconds(300));
    EXPECT_GE(reader.buffered().size(), 100'000u);  // far more than one line a second
    client.reset();
    EXPECT_NE(finish().find("1 end client closed after "), std::string::npos);
}

TEST_F(ProxySession, FileModeServesTheContentOverPlainHttp) {
    context_.file_content = "function FindProxyForURL(u, h) { return \"DIRECT\"; }";
    UniqueFd client = start(ProxyMode::kServeFile);
    testnet::send_text(client, "GET /proxy.pac HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string answer = read_to_end(client);
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(answer.find("\r\nContent-Length: 51\r\n\r\n" + context_.file_content),
              std::string::npos)
        << answer;
    EXPECT_NE(finish().find("1 end file sent"), std::string::npos);
}

}  // namespace
}  // namespace proxy
