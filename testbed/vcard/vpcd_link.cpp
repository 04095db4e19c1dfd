#include "testbed/vcard/vpcd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "testbed/vcard/step_hold.h"

namespace vcard {
namespace {

constexpr std::size_t kMaxPayload = 0xFFFF;
constexpr auto kRetryPause = std::chrono::milliseconds(50);

void set_option(int fd, int level, int name) {
    const int on = 1;
    ::setsockopt(fd, level, name, &on, sizeof on);
}

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

UniqueFd connect_with_retry(const std::string& host, std::uint16_t port,
                            std::chrono::milliseconds patience, std::string& error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: '" + host + "'";
        return UniqueFd();
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd.valid()) {
            error = system_error("socket");
            return UniqueFd();
        }
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            // Without these every APDU waits for a delayed ACK (~40 ms instead of ~0.2 ms).
            set_option(fd.get(), IPPROTO_TCP, TCP_NODELAY);
            set_option(fd.get(), IPPROTO_TCP, TCP_QUICKACK);
            return fd;
        }
        const int reason = errno;
        if (reason != ECONNREFUSED && reason != ETIMEDOUT && reason != ENETUNREACH) {
            error = system_error("connect");
            return UniqueFd();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "nobody listens on " + host + ":" + std::to_string(port);
            return UniqueFd();
        }
        std::this_thread::sleep_for(kRetryPause);
    }
}

FrameLink::FrameLink(UniqueFd socket) : socket_(std::move(socket)) {}

bool FrameLink::read_exactly(std::uint8_t* data, std::size_t size, bool& closed) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::recv(socket_.get(), data + done, size - done, 0);
        if (got == 0) {
            closed = true;
            return false;
        }
        if (got < 0) {
            if (errno == EINTR) continue;
            error_ = system_error("recv");
            return false;
        }
        // Linux clears quick-ACK mode again after a while; renew it after every receive.
        set_option(socket_.get(), IPPROTO_TCP, TCP_QUICKACK);
        done += static_cast<std::size_t>(got);
    }
    return true;
}

FrameLink::ReadResult FrameLink::read(Bytes& payload) {
    std::uint8_t header[2];
    bool closed = false;
    if (!read_exactly(header, sizeof header, closed)) {
        return closed ? ReadResult::kClosed : ReadResult::kError;
    }
    payload.assign(static_cast<std::size_t>(header[0]) << 8 | header[1], 0);
    if (!payload.empty() && !read_exactly(payload.data(), payload.size(), closed)) {
        if (closed) error_ = "vpcd closed the link inside a message";
        return ReadResult::kError;
    }
    return ReadResult::kFrame;
}

bool FrameLink::write(const Bytes& payload) {
    if (payload.size() > kMaxPayload) {
        error_ = "answer of " + std::to_string(payload.size()) + " bytes does not fit a frame";
        return false;
    }
    Bytes frame = {static_cast<std::uint8_t>(payload.size() >> 8),
                   static_cast<std::uint8_t>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t sent =
            ::send(socket_.get(), frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            error_ = system_error("send");
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool FrameLink::closed_within(std::chrono::milliseconds limit) {
    pollfd watch{socket_.get(), POLLRDHUP, 0};
    const int ready = ::poll(&watch, 1, static_cast<int>(limit.count()));
    if (ready < 0) return errno != EINTR;
    return ready > 0 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool serve_vpcd(FrameLink& link, VpcdDispatcher& dispatcher, StepHolds* holds) {
    Bytes payload;
    for (;;) {
        switch (link.read(payload)) {
            case FrameLink::ReadResult::kClosed:
                return true;
            case FrameLink::ReadResult::kError:
                return false;
            case FrameLink::ReadResult::kFrame:
                break;
        }
        if (holds && payload.size() > 1 &&
            holds->before_answer(payload, link) == StepHolds::Outcome::kLinkClosed) {
            return true;
        }
        if (auto answer = dispatcher.handle(payload); answer && !link.write(*answer)) return false;
    }
}

}  // namespace vcard
