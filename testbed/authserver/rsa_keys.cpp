#include "testbed/authserver/rsa_keys.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace authserver {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using UniqueBio = std::unique_ptr<BIO, BioFree>;

struct ContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using UniqueContext = std::unique_ptr<EVP_PKEY_CTX, ContextFree>;

using Init = int (*)(EVP_PKEY_CTX*);
using Transform = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);

std::optional<Bytes> transform(EVP_PKEY* key, Init init, Transform run, const Bytes& input) {
    UniqueContext context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context || init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
        return std::nullopt;
    }
    std::size_t length = 0;
    if (run(context.get(), nullptr, &length, input.data(), input.size()) != 1) return std::nullopt;
    Bytes output(length);
    if (run(context.get(), output.data(), &length, input.data(), input.size()) != 1) {
        return std::nullopt;
    }
    output.resize(length);
    return output;
}

}  // namespace

void RsaKey::Free::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }

std::optional<RsaKey> RsaKey::generate(int bits) {
    EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned int>(bits));
    if (key == nullptr) return std::nullopt;
    return RsaKey(key);
}

std::optional<RsaKey> RsaKey::from_public_pem(const std::string& pem) {
    UniqueBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return std::nullopt;
    EVP_PKEY* read = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
    if (read == nullptr) return std::nullopt;
    RsaKey key(read);
    if (EVP_PKEY_get_base_id(key.key_.get()) != EVP_PKEY_RSA) return std::nullopt;
    return key;
}

std::string RsaKey::public_pem() const {
    UniqueBio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PUBKEY(bio.get(), key_.get()) != 1) return {};
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::optional<Bytes> RsaKey::encrypt(const Bytes& message) const {
    return transform(key_.get(), EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, message);
}

std::optional<Bytes> RsaKey::decrypt(const Bytes& block) const {
    return transform(key_.get(), EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, block);
}

int RsaKey::size_bytes() const { return EVP_PKEY_get_size(key_.get()); }

}  // namespace authserver
