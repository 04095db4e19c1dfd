#include "testbed/vcard/hc_card.h"

#include <random>

#include "testbed/vcard/status_words.h"

namespace vcard {
namespace {

constexpr std::size_t kHeaderLength = 4;

bool ends_with_ok(const Bytes& response) {
    return response.size() >= 2 && response[response.size() - 2] == 0x90 && response.back() == 0x00;
}

bool is_select(Command command) {
    return command == Command::kSelect || command == Command::kSelect31;
}

}  // namespace

RandomBytes system_random() {
    return [engine = std::make_shared<std::random_device>()](std::size_t count) {
        Bytes out(count);
        for (auto& b : out) b = static_cast<std::uint8_t>((*engine)() & 0xFF);
        return out;
    };
}

Bytes RefusingAuthenticator::respond(const Bytes&, const Bytes&) {
    return sw::kConditionsNotSatisfied;
}

HcCard::HcCard(CardProfile profile, RandomBytes random,
               std::unique_ptr<MutualAuthenticator> authenticator)
    : profile_(std::move(profile)),
      random_(std::move(random)),
      authenticator_(std::move(authenticator)) {}

void HcCard::reset() {
    hc_selected_ = false;
    challenge_.clear();
}

Bytes HcCard::process(const Bytes& apdu) {
    const auto command = identify(apdu);
    if (!command) return answer_unknown(apdu);

    const auto fixed = profile_.fixed_answers.find(*command);
    Bytes response;
    if (fixed != profile_.fixed_answers.end()) {
        response = fixed->second;
    } else if (!is_select(*command) && profile_.require_select && !hc_selected_) {
        response = sw::kConditionsNotSatisfied;
    } else {
        response = answer(*command, apdu);
        cut_short(*command, response);
    }
    if (is_select(*command)) {
        // Only the HC application holds the data; selecting any application, HC31 included,
        // also voids an open challenge, as on a real card.
        hc_selected_ = *command == Command::kSelect && ends_with_ok(response);
        challenge_.clear();
    }
    return response;
}

Bytes HcCard::answer(Command command, const Bytes& apdu) {
    switch (command) {
        case Command::kSelect:
        case Command::kSelect31:
            return sw::kOk;
        case Command::kReadId:
            return with_ok(profile_.card_id);
        case Command::kReadBasic:
            return with_ok(profile_.basic_data);
        case Command::kReadCardData:
            return with_ok(profile_.card_data);
        case Command::kGetChallenge:
            challenge_ = random_(kChallengeLength);
            return with_ok(challenge_);
        case Command::kMutualAuth: {
            const Bytes host_data(apdu.begin() + 5, apdu.begin() + 5 + kMutualAuthDataLength);
            const Bytes challenge = std::move(challenge_);
            challenge_.clear();  // a challenge serves one attempt only
            return authenticator_->respond(challenge, host_data);
        }
    }
    return sw::kUnknownInstruction;
}

// Commands that match none of the card's fixed commands: the closest ISO 7816-4 refusal.
Bytes HcCard::answer_unknown(const Bytes& apdu) {
    if (apdu.size() < kHeaderLength) return sw::kWrongLength;
    if (apdu[0] != 0x00) return sw::kUnknownClass;
    const std::size_t lc = apdu.size() > kHeaderLength ? apdu[kHeaderLength] : 0;
    switch (apdu[1]) {
        case kInsSelect:
            if (apdu.size() != 21 || lc != 0x10) return sw::kWrongLength;
            return sw::kFileNotFound;
        case kInsGetData:
            if (apdu.size() != 8 || lc != 0x02) return sw::kWrongLength;
            return sw::kDataNotFound;
        case kInsGetChallenge:
            if (apdu.size() != 5 || apdu[4] != kChallengeLength) return sw::kWrongLength;
            return sw::kWrongParameters;
        case kInsMutualAuth:
            if (apdu.size() != 38 || lc != kMutualAuthDataLength || apdu.back() != 0x10) {
                return sw::kWrongLength;
            }
            return sw::kWrongParameters;
        default:
            return sw::kUnknownInstruction;
    }
}

void HcCard::cut_short(Command command, Bytes& response) const {
    const auto kept = profile_.short_answers.find(command);
    if (kept == profile_.short_answers.end() || !ends_with_ok(response)) return;
    const std::size_t data = response.size() - sw::kOk.size();
    if (kept->second >= data) return;
    response.erase(response.begin() + static_cast<std::ptrdiff_t>(kept->second),
                   response.begin() + static_cast<std::ptrdiff_t>(data));
}

Bytes HcCard::with_ok(const Bytes& data) {
    Bytes out = data;
    out.insert(out.end(), sw::kOk.begin(), sw::kOk.end());
    return out;
}

}  // namespace vcard
