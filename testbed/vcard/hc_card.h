// The virtual HC card: turns one command APDU into one response APDU. No I/O here.
#pragma once

#include <functional>
#include <memory>

#include "testbed/vcard/bytes.h"
#include "testbed/vcard/card_profile.h"

namespace vcard {

// Fills GET CHALLENGE answers; tests pass a predictable one.
using RandomBytes = std::function<Bytes(std::size_t count)>;
RandomBytes system_random();

// Answers MUTUAL AUTHENTICATE. `challenge` is the card's last GET CHALLENGE answer (empty when
// none was asked since power-on or since the last attempt); `host_data` the 32 command bytes.
// Returns the whole response, status word included.
class MutualAuthenticator {
 public:
    virtual ~MutualAuthenticator() = default;
    virtual Bytes respond(const Bytes& challenge, const Bytes& host_data) = 0;
};

// Refuses every attempt with 69 85 (conditions of use not satisfied).
class RefusingAuthenticator : public MutualAuthenticator {
 public:
    Bytes respond(const Bytes& challenge, const Bytes& host_data) override;
};

class HcCard {
 public:
    HcCard(CardProfile profile, RandomBytes random,
           std::unique_ptr<MutualAuthenticator> authenticator);

    Bytes process(const Bytes& apdu);

    // Power-on, power-off and reset: the card forgets its selection and its challenge.
    void reset();

 private:
    Bytes answer(Command command, const Bytes& apdu);
    static Bytes answer_unknown(const Bytes& apdu);
    static Bytes with_ok(const Bytes& data);
    // Drops the data bytes past the profile's short length for this command, if it has one.
    void cut_short(Command command, Bytes& response) const;

    CardProfile profile_;
    RandomBytes random_;
    std::unique_ptr<MutualAuthenticator> authenticator_;
    bool hc_selected_ = false;  // the HC application is selected
    Bytes challenge_;
};

}  // namespace vcard
