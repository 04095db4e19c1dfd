#include "testbed/proxy/proxy_session.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <thread>

namespace proxy {
namespace {

using testnet::Clock;
using testnet::ReadStatus;

constexpr std::size_t kRequestLimit = 16384;

std::string as_text(const testnet::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Header lines as fast as the client takes them, until it goes away or the limit passes; a send
// never blocks past the limit. Returns how the flood ended.
std::string flood_headers(const testnet::UniqueFd& socket, Clock::time_point limit) {
    if (!testnet::send_text(socket, "HTTP/1.0 200 Connection established\r\n")) {
        return "client closed before the flood";
    }
    std::string block;
    for (int i = 0; i < 64; ++i) block += "X-Flood: no pause between these lines\r\n";
    long long bytes = 0;
    std::size_t offset = 0;
    while (Clock::now() < limit) {
        pollfd entry{socket.get(), POLLOUT, 0};
        const int ready = ::poll(&entry, 1, 200);
        if (ready <= 0) continue;
        const ssize_t n = ::send(socket.get(), block.data() + offset, block.size() - offset,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
        if (n <= 0) return "client closed after " + std::to_string(bytes) + " flood bytes";
        bytes += n;
        offset = (offset + static_cast<std::size_t>(n)) % block.size();
    }
    return "connection limit after " + std::to_string(bytes) + " flood bytes";
}

}  // namespace

void serve_proxy_connection(const testnet::UniqueFd& socket, int number, ProxyMode mode,
                            const ProxyContext& context, testnet::EventLog& log) {
    const auto limit = Clock::now() + context.connection_limit;
    log.write(number, "mode", std::string(proxy_mode_name(mode)));

    testnet::StreamReader reader(socket);
    const ReadStatus request =
        reader.fill_until("\r\n\r\n", kRequestLimit, Clock::now() + context.request_wait);
    log.write(number, "request", escape_bytes(as_text(reader.buffered())));
    log.write(number, "request-complete", request == ReadStatus::kOk ? "yes" : "no");
    if (request == ReadStatus::kClosed || request == ReadStatus::kFailed) {
        log.write(number, "end", "client closed before the blank line; no answer");
        return;
    }
    reader.take(reader.buffered().size());

    if (const auto answer = canned_answer(mode)) {
        const bool sent = testnet::send_text(socket, *answer);
        log.write(number, "end", sent ? "answered and closed" : "client gone before the answer");
        return;
    }
    switch (mode) {
        case ProxyMode::kEndlessHeaders: {
            int lines = 0;
            bool sent = testnet::send_text(socket, "HTTP/1.0 200 Connection established\r\n");
            while (sent && Clock::now() < limit) {
                std::this_thread::sleep_for(context.header_interval);
                sent = testnet::send_text(
                    socket, "X-Still-Coming: line " + std::to_string(++lines) + "\r\n");
            }
            log.write(number, "end",
                      (sent ? "connection limit after " : "client closed after ") +
                          std::to_string(lines) + " header lines");
            return;
        }
        case ProxyMode::kFloodHeaders:
            log.write(number, "end", flood_headers(socket, limit));
            return;
        case ProxyMode::kSilent: {
            const ReadStatus status = reader.drain(limit);
            log.write(number, "end",
                      status == ReadStatus::kClosed ? "client closed" : "connection limit");
            return;
        }
        case ProxyMode::kServeFile: {
            const std::string answer =
                "HTTP/1.0 200 OK\r\nContent-Type: " + context.file_type +
                "\r\nContent-Length: " + std::to_string(context.file_content.size()) + "\r\n\r\n" +
                context.file_content;
            log.write(number, "end", testnet::send_text(socket, answer) ? "file sent" : "not sent");
            return;
        }
        default:
            log.write(number, "end", "mode without an answer");
            return;
    }
}

}  // namespace proxy
