// The card's TCP link to vpcd: each message is a 2-byte big-endian length, then the payload.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "testbed/vcard/bytes.h"
#include "testbed/vcard/unique_fd.h"
#include "testbed/vcard/vpcd_dispatcher.h"

namespace vcard {

// Connects to host:port, retrying while nobody listens yet (vpcd opens its port only once
// pcscd has loaded the driver). Returns an invalid descriptor and sets `error` on failure.
UniqueFd connect_with_retry(const std::string& host, std::uint16_t port,
                            std::chrono::milliseconds patience, std::string& error);

class FrameLink {
 public:
    enum class ReadResult { kFrame, kClosed, kError };

    explicit FrameLink(UniqueFd socket);

    ReadResult read(Bytes& payload);
    bool write(const Bytes& payload);
    // Waits up to `limit` for vpcd to hang up; true once it has (or the link failed).
    bool closed_within(std::chrono::milliseconds limit);
    const std::string& error() const { return error_; }

 private:
    bool read_exactly(std::uint8_t* data, std::size_t size, bool& closed);

    UniqueFd socket_;
    std::string error_;
};

class StepHolds;

// Answers vpcd until it closes the link (true) or the link fails (false, see link.error()).
// `holds`, when given, may hold a command before it is answered (step_hold.h).
bool serve_vpcd(FrameLink& link, VpcdDispatcher& dispatcher, StepHolds* holds = nullptr);

}  // namespace vcard
