// The card's side of the vpcd link, driven over real loopback sockets by a stand-in for vpcd.
#include "testbed/vcard/vpcd_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "testbed/vcard/status_words.h"
#include "testbed/vcard/step_hold.h"

namespace vcard {
namespace {

using namespace std::chrono_literals;

const Bytes kSelect = *parse_hex("00A4040010D1580000010000000000000000001100");
const Bytes kReadId = *parse_hex("00CA000002000000");

// Plays vpcd: listens on a loopback port and talks to the one card that connects.
class FakeVpcd {
 public:
    explicit FakeVpcd(std::uint16_t port = 0) {
        listener_ = UniqueFd(::socket(AF_INET, SOCK_STREAM, 0));
        const int on = 1;
        ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
                  0);
        EXPECT_EQ(::listen(listener_.get(), 1), 0);
        socklen_t length = sizeof address;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }

    std::uint16_t port() const { return port_; }
    void accept() { card_ = UniqueFd(::accept(listener_.get(), nullptr, nullptr)); }
    void hang_up() { card_.reset(); }

    void send_raw(const Bytes& bytes) {
        ASSERT_EQ(::send(card_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void send_frame(const Bytes& payload) {
        Bytes frame = {static_cast<std::uint8_t>(payload.size() >> 8),
                       static_cast<std::uint8_t>(payload.size())};
        frame.insert(frame.end(), payload.begin(), payload.end());
        send_raw(frame);
    }
    bool answer_within(std::chrono::milliseconds limit) {
        pollfd watch{card_.get(), POLLIN, 0};
        return ::poll(&watch, 1, static_cast<int>(limit.count())) > 0;
    }
    Bytes receive_frame() {
        std::uint8_t header[2];
        if (::recv(card_.get(), header, 2, MSG_WAITALL) != 2) return {};
        Bytes payload(header[0] << 8 | header[1]);
        if (!payload.empty()) ::recv(card_.get(), payload.data(), payload.size(), MSG_WAITALL);
        return payload;
    }

 private:
    UniqueFd listener_;
    UniqueFd card_;
    std::uint16_t port_ = 0;
};

// A card connected to a FakeVpcd and served on its own thread.
class LinkedCard {
 public:
    explicit LinkedCard(FakeVpcd& vpcd, StepHolds* holds = nullptr)
        : card_(default_profile(), system_random(), std::make_unique<RefusingAuthenticator>()),
          dispatcher_(card_, [this](const Bytes& c, const Bytes& r) {
              seen_.push_back({c, r});
          }) {
        std::string error;
        UniqueFd socket = connect_with_retry("127.0.0.1", vpcd.port(), 2s, error);
        EXPECT_TRUE(socket.valid()) << error;
        vpcd.accept();
        served_ = std::async(std::launch::async, [this, holds, fd = std::move(socket)]() mutable {
            FrameLink link(std::move(fd));
            return serve_vpcd(link, dispatcher_, holds);
        });
    }
    bool wait_for_end() { return served_.get(); }
    const std::vector<std::pair<Bytes, Bytes>>& seen() const { return seen_; }

 private:
    HcCard card_;
    VpcdDispatcher dispatcher_;
    std::vector<std::pair<Bytes, Bytes>> seen_;
    std::future<bool> served_;
};

TEST(VpcdLink, AnswersTheAtrRequestAndApdusButNotPowerControl) {
    FakeVpcd vpcd;
    LinkedCard card(vpcd);
    vpcd.send_frame({0x04});
    EXPECT_EQ(vpcd.receive_frame(), kAtr);
    vpcd.send_frame({0x01});  // power on: no answer, so the next frame read is the APDU's
    vpcd.send_frame(kSelect);
    EXPECT_EQ(vpcd.receive_frame(), sw::kOk);
    vpcd.hang_up();
    EXPECT_TRUE(card.wait_for_end());
    ASSERT_EQ(card.seen().size(), 1u);
    EXPECT_EQ(card.seen()[0], std::make_pair(kSelect, sw::kOk));
}

TEST(VpcdLink, PowerCycleMakesTheCardForgetItsSelection) {
    FakeVpcd vpcd;
    LinkedCard card(vpcd);
    vpcd.send_frame(kSelect);
    EXPECT_EQ(vpcd.receive_frame(), sw::kOk);
    vpcd.send_frame({0x00});
    vpcd.send_frame({0x01});
    vpcd.send_frame(kReadId);
    EXPECT_EQ(vpcd.receive_frame(), sw::kConditionsNotSatisfied);
    vpcd.hang_up();
    EXPECT_TRUE(card.wait_for_end());
}

TEST(VpcdLink, FramesSplitAcrossSegmentsAreReassembled) {
    FakeVpcd vpcd;
    LinkedCard card(vpcd);
    Bytes frame = {0x00, static_cast<std::uint8_t>(kSelect.size())};
    frame.insert(frame.end(), kSelect.begin(), kSelect.end());
    for (std::uint8_t b : frame) {
        vpcd.send_raw({b});
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(vpcd.receive_frame(), sw::kOk);
    vpcd.hang_up();
    EXPECT_TRUE(card.wait_for_end());
}

TEST(VpcdLink, HangingUpInsideAFrameIsAFailure) {
    FakeVpcd vpcd;
    LinkedCard card(vpcd);
    vpcd.send_raw({0x00, 0x15, 0x00, 0xA4});
    vpcd.hang_up();
    EXPECT_FALSE(card.wait_for_end());
}

bool appears_within(const std::string& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::ifstream(path)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(VpcdLink, AHeldCommandWaitsForItsStepAndAHangUpEndsTheHold) {
    char folder[] = "/tmp/vcard-hold-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string step = std::string(folder) + "/pull";
    StepHolds holds({{Command::kReadId, "pull"}}, folder);
    FakeVpcd vpcd;
    LinkedCard card(vpcd, &holds);
    vpcd.send_frame(kSelect);
    EXPECT_EQ(vpcd.receive_frame(), sw::kOk);

    std::ofstream(step + ".done").put('x');  // left over from before: must not release
    vpcd.send_frame(kReadId);
    ASSERT_TRUE(appears_within(step + ".request", 2s));
    EXPECT_FALSE(vpcd.answer_within(100ms)) << "the held command was answered early";
    std::ofstream(step + ".done").put('x');
    EXPECT_EQ(vpcd.receive_frame().size(), kCardIdLength + 2);

    std::remove((step + ".request").c_str());
    vpcd.send_frame(kReadId);
    ASSERT_TRUE(appears_within(step + ".request", 2s));
    vpcd.hang_up();
    EXPECT_TRUE(card.wait_for_end());
    EXPECT_EQ(card.seen().size(), 2u);
    for (const char* suffix : {".request", ".done"}) std::remove((step + suffix).c_str());
    ::rmdir(folder);
}

TEST(VpcdLink, ConnectWaitsForALateListenerAndGivesUpAfterItsPatience) {
    std::uint16_t port;
    { port = FakeVpcd().port(); }  // a port nobody listens on any more

    std::string error;
    EXPECT_FALSE(connect_with_retry("127.0.0.1", port, 100ms, error).valid());
    EXPECT_EQ(error, "nobody listens on 127.0.0.1:" + std::to_string(port));

    auto late = std::async(std::launch::async, [port] {
        std::this_thread::sleep_for(200ms);
        FakeVpcd vpcd(port);
        vpcd.accept();
    });
    EXPECT_TRUE(connect_with_retry("127.0.0.1", port, 5s, error).valid()) << error;
    late.get();

    EXPECT_FALSE(connect_with_retry("localhost", port, 0ms, error).valid());
    EXPECT_EQ(error, "not an IPv4 address: 'localhost'");
}

}  // namespace
}  // namespace vcard
