#include "testbed/authserver/wire_cipher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace authserver {
namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

std::optional<Bytes> run_cipher(const TdesKey& key, const Bytes& input, bool encrypt) {
    if (input.size() % kBlock != 0) return std::nullopt;
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_CipherInit_ex(context.get(), EVP_des_ede3_ecb(), nullptr, key.data(), nullptr,
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
        return std::nullopt;
    }
    Bytes output(input.size() + kBlock);
    int written = 0;
    int final_written = 0;
    if (EVP_CipherUpdate(context.get(), output.data(), &written, input.data(),
                         static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), output.data() + written, &final_written) != 1) {
        return std::nullopt;
    }
    output.resize(static_cast<std::size_t>(written + final_written));
    return output;
}

}  // namespace

std::optional<Bytes> tdes_encrypt(const TdesKey& key, const Bytes& plaintext) {
    return run_cipher(key, plaintext, true);
}

std::optional<Bytes> tdes_decrypt(const TdesKey& key, const Bytes& ciphertext) {
    return run_cipher(key, ciphertext, false);
}

Bytes pad_block8(const Bytes& plaintext) {
    const std::size_t count = kBlock - plaintext.size() % kBlock;
    Bytes out = plaintext;
    out.insert(out.end(), count, static_cast<std::uint8_t>(count));
    return out;
}

std::optional<Bytes> unpad_block8(const Bytes& padded) {
    if (padded.empty() || padded.size() % kBlock != 0) return std::nullopt;
    const std::size_t count = padded.back();
    if (count < 1 || count > kBlock) return std::nullopt;
    if (!std::all_of(padded.end() - count, padded.end(),
                     [count](std::uint8_t b) { return b == count; })) {
        return std::nullopt;
    }
    return Bytes(padded.begin(), padded.end() - count);
}

TdesKey hello_tdes_key(const std::array<std::uint8_t, 16>& hello_key) {
    TdesKey key{};
    std::copy(hello_key.begin(), hello_key.end(), key.begin());
    return key;
}

TdesKey session_tdes_key(const std::string& client_random, const Bytes& server_secret) {
    TdesKey key{};
    std::copy_n(client_random.begin(), std::min<std::size_t>(client_random.size(), 16),
                key.begin());
    std::copy_n(server_secret.begin(), std::min<std::size_t>(server_secret.size(), 8),
                key.begin() + 16);
    return key;
}

}  // namespace authserver
