// Interprets the payloads vpcd sends to a virtual card: one-byte control codes and APDUs.
#pragma once

#include <functional>
#include <optional>

#include "testbed/vcard/bytes.h"
#include "testbed/vcard/hc_card.h"

namespace vcard {

// T=1 only: TS 3B, T0 80 (TD1 follows, no historical bytes), TD1 01 (T=1), TCK 81.
inline const Bytes kAtr = {0x3B, 0x80, 0x01, 0x81};

enum class VpcdControl : std::uint8_t { kPowerOff = 0, kPowerOn = 1, kReset = 2, kGetAtr = 4 };

class VpcdDispatcher {
 public:
    using ApduObserver = std::function<void(const Bytes& command, const Bytes& response)>;

    VpcdDispatcher(HcCard& card, ApduObserver observer);

    // The payload to send back, if vpcd expects one (the ATR request and every APDU).
    std::optional<Bytes> handle(const Bytes& payload);

 private:
    HcCard& card_;
    ApduObserver observer_;
};

}  // namespace vcard
