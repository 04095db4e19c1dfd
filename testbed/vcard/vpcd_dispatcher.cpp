#include "testbed/vcard/vpcd_dispatcher.h"

namespace vcard {

VpcdDispatcher::VpcdDispatcher(HcCard& card, ApduObserver observer)
    : card_(card), observer_(std::move(observer)) {}

std::optional<Bytes> VpcdDispatcher::handle(const Bytes& payload) {
    if (payload.empty()) return std::nullopt;
    if (payload.size() == 1) {
        switch (static_cast<VpcdControl>(payload[0])) {
            case VpcdControl::kGetAtr:
                return kAtr;
            case VpcdControl::kPowerOff:
            case VpcdControl::kPowerOn:
            case VpcdControl::kReset:
                card_.reset();
                return std::nullopt;
        }
        return std::nullopt;  // unknown control codes are not answered
    }
    Bytes response = card_.process(payload);
    if (observer_) observer_(payload, response);
    return response;
}

}  // namespace vcard
