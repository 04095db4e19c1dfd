// Small blocking-socket helpers shared by the test server and the scripted proxy: a listening
// socket, accepting and reading with deadlines, and sending in pieces.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testnet {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Owns one file descriptor.
class UniqueFd {
 public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset();

 private:
    int fd_ = -1;
};

// A TCP listener on an IPv4 address (loopback in every use here). Invalid on failure, with the
// reason in `error`.
UniqueFd listen_on(const std::string& address, std::uint16_t port, std::string& error);

// Waits for the next connection until `deadline`; invalid when none came.
UniqueFd accept_until(const UniqueFd& listener, Clock::time_point deadline);

// Writes every byte; false when the peer went away.
bool send_all(const UniqueFd& socket, const Bytes& data);
bool send_text(const UniqueFd& socket, const std::string& text);

// Sends `data` in `pieces` parts with `pause` between them (joins on the other side are tested).
bool send_in_pieces(const UniqueFd& socket, const Bytes& data, int pieces,
                    std::chrono::milliseconds pause);

enum class ReadStatus { kOk, kClosed, kTimedOut, kFailed };
const char* describe(ReadStatus status);

// Buffered reads with deadlines: bytes that arrive beyond one message stay for the next.
class StreamReader {
 public:
    // With `quick_ack` every read acknowledges at once (TCP_QUICKACK) instead of delaying the
    // acknowledgement, as a server that cares about clients with Nagle's algorithm on may do.
    explicit StreamReader(const UniqueFd& socket, bool quick_ack = false)
        : socket_(socket), quick_ack_(quick_ack) {}

    // Reads until at least `count` bytes are buffered.
    ReadStatus fill(std::size_t count, Clock::time_point deadline);
    // Reads until the buffer holds `marker`; `limit` bounds the buffer.
    ReadStatus fill_until(const std::string& marker, std::size_t limit, Clock::time_point deadline);
    // Reads and throws away everything until the peer closes or the deadline passes.
    ReadStatus drain(Clock::time_point deadline);

    // Removes and returns the first `count` buffered bytes (fewer if fewer are there).
    Bytes take(std::size_t count);
    const Bytes& buffered() const { return buffer_; }

 private:
    ReadStatus read_some(Clock::time_point deadline);

    const UniqueFd& socket_;
    bool quick_ack_;
    Bytes buffer_;
};

}  // namespace testnet
