#include "testbed/vcard/sam_auth.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string_view>

#include "testbed/vcard/card_profile.h"
#include "testbed/vcard/status_words.h"

namespace vcard {
namespace {

constexpr std::string_view kSamLabel = "SAM>CARD";
constexpr std::string_view kCardLabel = "CARD>SAM";

Bytes sha256(const Bytes& input) {
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
        1) {
        return {};  // callers compare digests; an empty one never matches
    }
    digest.resize(length);
    return digest;
}

void append(Bytes& out, const Bytes& part) { out.insert(out.end(), part.begin(), part.end()); }

}  // namespace

Bytes expected_sam_data(const Bytes& card_id, const Bytes& challenge, const Bytes& secret) {
    Bytes input = bytes_of(kSamLabel);
    append(input,
           Bytes(card_id.begin(), card_id.begin() + std::min(card_id.size(), kCardIdLength)));
    append(input, challenge);
    append(input, secret);
    return sha256(input);
}

Bytes card_answer(const Bytes& sam_data, const Bytes& secret) {
    Bytes input = bytes_of(kCardLabel);
    append(input, sam_data);
    append(input, secret);
    Bytes digest = sha256(input);
    digest.resize(std::min(digest.size(), kCardAnswerLength));
    return digest;
}

SharedSecretAuthenticator::SharedSecretAuthenticator(Bytes card_id, Bytes secret)
    : card_id_(std::move(card_id)), secret_(std::move(secret)) {}

Bytes SharedSecretAuthenticator::respond(const Bytes& challenge, const Bytes& host_data) {
    if (challenge.empty()) return sw::kConditionsNotSatisfied;
    const Bytes expected = expected_sam_data(card_id_, challenge, secret_);
    if (expected.size() != kSamDataLength || host_data != expected) {
        return sw::kSecurityNotSatisfied;
    }
    Bytes response = card_answer(host_data, secret_);
    response.insert(response.end(), sw::kOk.begin(), sw::kOk.end());
    return response;
}

}  // namespace vcard
