#include "testbed/authserver/sam.h"

#include <openssl/evp.h>

#include <memory>
#include <string_view>

namespace authserver {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Feeds parts one after the other; a library failure yields an all-zero digest, which never
// matches what the other side sends.
class Sha256 {
 public:
    Sha256() : context_(EVP_MD_CTX_new()) {
        ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1;
    }
    Sha256& add(std::string_view text) { return add_raw(text.data(), text.size()); }
    Sha256& add(const Bytes& bytes) { return add_raw(bytes.data(), bytes.size()); }
    Bytes digest() {
        Bytes out(32, 0);
        unsigned int length = 0;
        if (ok_ && EVP_DigestFinal_ex(context_.get(), out.data(), &length) != 1) out.assign(32, 0);
        return out;
    }

 private:
    Sha256& add_raw(const void* data, std::size_t size) {
        ok_ = ok_ && EVP_DigestUpdate(context_.get(), data, size) == 1;
        return *this;
    }

    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context_;
    bool ok_ = false;
};

}  // namespace

Bytes sam_authentication_data(const Bytes& card_id, const Bytes& challenge, const Bytes& secret) {
    return Sha256().add("SAM>CARD").add(card_id).add(challenge).add(secret).digest();
}

Bytes expected_card_answer(const Bytes& sam_data, const Bytes& secret) {
    Bytes digest = Sha256().add("CARD>SAM").add(sam_data).add(secret).digest();
    digest.resize(16);
    return digest;
}

std::string sam_result(const Bytes& card_id, const Bytes& page_random) {
    Bytes link = Sha256().add("RESULT").add(card_id).add(page_random).digest();
    std::string result;
    while (result.size() < kResultLength) {
        result += hex_upper(link);
        link = Sha256().add(link).digest();
    }
    result.resize(kResultLength);
    return result;
}

std::string hex_upper(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

}  // namespace authserver
