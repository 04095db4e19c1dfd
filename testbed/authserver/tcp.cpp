#include "testbed/authserver/tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace testnet {
namespace {

constexpr std::size_t kReadChunk = 4096;

int millis_until(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

// 1 readable, 0 deadline passed, -1 failure.
int wait_readable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int answer = ::poll(&entry, 1, millis_until(deadline));
        if (answer > 0) return 1;
        if (answer < 0 && errno != EINTR) return -1;
        if (answer == 0 && Clock::now() >= deadline) return 0;
    }
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

UniqueFd listen_on(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "not an IPv4 address: '" + address + "'";
        return UniqueFd();
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!fd.valid() || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(fd.get(), 16) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " +
                std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

UniqueFd accept_until(const UniqueFd& listener, Clock::time_point deadline) {
    while (wait_readable(listener.get(), deadline) == 1) {
        UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client.valid()) {
            const int on = 1;
            ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return client;
        }
        if (errno != EINTR && errno != ECONNABORTED) break;
    }
    return UniqueFd();
}

bool send_all(const UniqueFd& socket, const Bytes& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n =
            ::send(socket.get(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool send_text(const UniqueFd& socket, const std::string& text) {
    return send_all(socket, Bytes(text.begin(), text.end()));
}

bool send_in_pieces(const UniqueFd& socket, const Bytes& data, int pieces,
                    std::chrono::milliseconds pause) {
    if (pieces < 1) pieces = 1;
    const std::size_t step =
        std::max<std::size_t>(1, data.size() / static_cast<std::size_t>(pieces));
    std::size_t offset = 0;
    for (int i = 0; i < pieces && offset < data.size(); ++i) {
        const std::size_t end =
            i + 1 == pieces ? data.size() : std::min(data.size(), offset + step);
        if (!send_all(socket, Bytes(data.begin() + offset, data.begin() + end))) return false;
        offset = end;
        if (offset < data.size()) std::this_thread::sleep_for(pause);
    }
    return true;
}

const char* describe(ReadStatus status) {
    switch (status) {
        case ReadStatus::kOk:
            return "ok";
        case ReadStatus::kClosed:
            return "peer closed";
        case ReadStatus::kTimedOut:
            return "timed out";
        case ReadStatus::kFailed:
            return "read failed";
    }
    return "?";
}

ReadStatus StreamReader::read_some(Clock::time_point deadline) {
    const int ready = wait_readable(socket_.get(), deadline);
    if (ready == 0) return ReadStatus::kTimedOut;
    if (ready < 0) return ReadStatus::kFailed;
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::recv(socket_.get(), chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadStatus::kFailed;
        if (n == 0) return ReadStatus::kClosed;
        buffer_.insert(buffer_.end(), chunk, chunk + n);
        if (quick_ack_) {
            const int on = 1;
            ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        }
        return ReadStatus::kOk;
    }
}

ReadStatus StreamReader::fill(std::size_t count, Clock::time_point deadline) {
    while (buffer_.size() < count) {
        const ReadStatus status = read_some(deadline);
        if (status != ReadStatus::kOk) return status;
    }
    return ReadStatus::kOk;
}

ReadStatus StreamReader::fill_until(const std::string& marker, std::size_t limit,
                                    Clock::time_point deadline) {
    for (;;) {
        if (std::search(buffer_.begin(), buffer_.end(), marker.begin(), marker.end()) !=
            buffer_.end()) {
            return ReadStatus::kOk;
        }
        if (buffer_.size() >= limit) return ReadStatus::kFailed;
        const ReadStatus status = read_some(deadline);
        if (status != ReadStatus::kOk) return status;
    }
}

ReadStatus StreamReader::drain(Clock::time_point deadline) {
    for (;;) {
        const ReadStatus status = read_some(deadline);
        buffer_.clear();
        if (status != ReadStatus::kOk) return status;
    }
}

Bytes StreamReader::take(std::size_t count) {
    count = std::min(count, buffer_.size());
    Bytes out(buffer_.begin(), buffer_.begin() + count);
    buffer_.erase(buffer_.begin(), buffer_.begin() + count);
    return out;
}

}  // namespace testnet
