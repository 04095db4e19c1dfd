// qardex-hsign-parts: times, natively and one at a time, the parts an H_Sign call is made of, as
// a baseline for tools/bench/h_sign_bench.sh (a measurement, not a test).
//
//   qardex-hsign-parts keygen ITERATIONS
//       the client's key as the control makes it: RSA-1024 key pair generation, the key check,
//       the public key and the enciphered private key as PEM text
//   qardex-hsign-parts dialogue ITERATIONS PORT HELLOKEY-HEX
//       the whole exchange with a running qardex-authserver on 127.0.0.1:PORT (mode normal):
//       TCP, both RSA operations, Triple-DES; the card answers in-process, the client's key pair
//       is made once beforehand
//   qardex-hsign-parts card ITERATIONS
//       the card's share through pcscd: context, reader list, connect, SELECT, READ ID,
//       GET CHALLENGE, MUTUAL AUTHENTICATE (refused: no SAM data), SELECT HC31, release
//
// Prints "mean_ms=<milliseconds per iteration> iterations=N ok=K"; exit status 0 when every
// iteration completed, 1 otherwise, 2 on a usage error.
#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testbed/authserver/messages.h"
#include "testbed/authserver/options.h"
#include "testbed/authserver/rsa_keys.h"
#include "testbed/vcard/hc_card.h"
#include "testbed/vcard/sam_auth.h"

namespace {

using authserver::Bytes;
using testnet::Clock;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }
void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

testnet::UniqueFd connect_loopback(int port) {
    testnet::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!fd.valid() ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        return testnet::UniqueFd();
    }
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

Bytes receive_reply(testnet::StreamReader& reader) {
    if (reader.fill_until("<E>", 4096, Clock::now() + std::chrono::seconds(10)) !=
        testnet::ReadStatus::kOk) {
        return {};
    }
    const auto& b = reader.buffered();
    return reader.take(std::string(b.begin(), b.end()).find("<E>") + 3);
}

// The control's key making, step for step (the same calls on this machine's libcrypto).
bool control_key_once() {
    using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
    using Stream = std::unique_ptr<BIO, decltype(&BIO_free_all)>;
    RSA* rsa = RSA_new();
    const std::unique_ptr<BIGNUM, decltype(&BN_free)> exponent(BN_new(), &BN_free);
    Key key(EVP_PKEY_new(), &EVP_PKEY_free);
    if (!rsa || !exponent || !key || BN_set_word(exponent.get(), RSA_F4) != 1 ||
        RSA_generate_key_ex(rsa, 1024, exponent.get(), nullptr) != 1 ||
        EVP_PKEY_assign_RSA(key.get(), rsa) != 1) {
        RSA_free(rsa);
        return false;
    }
    if (RSA_check_key(rsa) <= 0) return false;
    Stream pub(BIO_new(BIO_s_mem()), &BIO_free_all);
    Stream priv(BIO_new(BIO_s_mem()), &BIO_free_all);
    static char passphrase[] = "0123456789abcdef";
    return pub && priv && PEM_write_bio_PUBKEY(pub.get(), key.get()) == 1 &&
           PEM_write_bio_PrivateKey(priv.get(), key.get(), EVP_des_ede3_cbc(),
                                    reinterpret_cast<unsigned char*>(passphrase),
                                    sizeof passphrase - 1, nullptr, nullptr) == 1;
}

// One exchange as the control makes it; true when the server answered "OK".
bool dialogue_once(int port, const authserver::TdesKey& hello_key,
                   const authserver::RsaKey& client_key) {
    const testnet::UniqueFd socket = connect_loopback(port);
    if (!socket.valid()) return false;
    testnet::StreamReader reader(socket);
    const vcard::CardProfile profile = vcard::default_profile();
    vcard::HcCard card(
        profile, vcard::system_random(),
        std::make_unique<vcard::SharedSecretAuthenticator>(profile.card_id, profile.sam_secret));
    using authserver::open_sealed;
    using authserver::pad_block8;
    using authserver::seal;

    if (!testnet::send_all(
            socket, seal(hello_key, pad_block8(bytes_of("Hello " + client_key.public_pem()))))) {
        return false;
    }
    const Bytes hello = open_sealed(hello_key, receive_reply(reader)).value.value_or(Bytes{});
    if (hello.size() < 411) return false;
    const auto server_key =
        authserver::RsaKey::from_public_pem(std::string(hello.begin() + 6, hello.begin() + 278));
    const auto secret = client_key.decrypt(Bytes(hello.begin() + 283, hello.begin() + 411));
    if (!server_key || !secret) return false;
    const std::string client_random = "1234567812345678";
    const auto block = server_key->encrypt(bytes_of(client_random));
    if (!block) return false;
    Bytes key_message = bytes_of(" 128 ");
    append(key_message, *block);
    append(key_message, bytes_of("<E>"));
    if (!testnet::send_all(socket, key_message)) return false;
    const authserver::TdesKey key = authserver::session_tdes_key(client_random, *secret);

    card.process(*vcard::parse_hex("00A4040010D1580000010000000000000000001100"));
    const Bytes challenge = card.process(*vcard::parse_hex("0084000008"));
    const std::string request01 = "01<id=12>000012345678<rn=8>" +
                                  std::string(challenge.begin(), challenge.begin() + 8) + "<E>";
    if (!testnet::send_all(socket, seal(key, pad_block8(bytes_of(request01))))) return false;
    const Bytes reply02 = open_sealed(key, receive_reply(reader)).value.value_or(Bytes{});
    if (reply02.size() < 44) return false;
    Bytes mutual = {0x00, 0x82, 0x11, 0x12, 0x20};
    mutual.insert(mutual.end(), reply02.begin() + 9, reply02.begin() + 41);
    mutual.push_back(0x10);
    const Bytes answer = card.process(mutual);
    if (answer.size() != 18) return false;
    const std::string request03 = "03<au=16>" + std::string(answer.begin(), answer.begin() + 16) +
                                  "<se=20>" + std::string(20, '7') + "<E>";
    if (!testnet::send_all(socket, seal(key, pad_block8(bytes_of(request03))))) return false;
    const Bytes final_reply = open_sealed(key, receive_reply(reader)).value.value_or(Bytes{});
    return final_reply.size() >= 274 && final_reply[8] == 'O' && final_reply[9] == 'K';
}

class PcscContext {
 public:
    PcscContext() {
        if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle_) !=
            SCARD_S_SUCCESS) {
            handle_ = 0;
        }
    }
    PcscContext(const PcscContext&) = delete;
    PcscContext& operator=(const PcscContext&) = delete;
    ~PcscContext() {
        if (handle_) SCardReleaseContext(handle_);
    }
    SCARDCONTEXT get() const { return handle_; }

 private:
    SCARDCONTEXT handle_ = 0;
};

bool transmit(SCARDHANDLE card, const Bytes& command, std::uint8_t expected_sw1) {
    unsigned char response[258];
    DWORD length = sizeof response;
    return SCardTransmit(card, SCARD_PCI_T1, command.data(), command.size(), nullptr, response,
                         &length) == SCARD_S_SUCCESS &&
           length >= 2 && response[length - 2] == expected_sw1;
}

// The card's share of one call, with the first reader (the bench sets up one).
bool card_once() {
    PcscContext context;
    if (!context.get()) return false;
    char readers[1024];
    DWORD length = sizeof readers;
    if (SCardListReaders(context.get(), nullptr, readers, &length) != SCARD_S_SUCCESS) return false;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardConnect(context.get(), readers, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card,
                     &protocol) != SCARD_S_SUCCESS) {
        return false;
    }
    Bytes mutual = *vcard::parse_hex("0082111220");
    mutual.insert(mutual.end(), 32, 0x00);
    mutual.push_back(0x10);
    const bool ok =
        transmit(card, *vcard::parse_hex("00A4040010D1580000010000000000000000001100"), 0x90) &&
        transmit(card, *vcard::parse_hex("00CA000002000000"), 0x90) &&
        transmit(card, *vcard::parse_hex("0084000008"), 0x90) && transmit(card, mutual, 0x69) &&
        transmit(card, *vcard::parse_hex("00A4040010D1580000010000000000000000003100"), 0x90);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    return ok;
}

int usage() {
    std::fputs("usage: qardex-hsign-parts keygen N | dialogue N PORT HELLOKEY-HEX | card N\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string part = argv[1];
    char* end = nullptr;
    const long iterations = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || iterations < 1 || iterations > 100000) return usage();

    std::function<bool()> once;
    std::optional<authserver::RsaKey> client_key;
    authserver::TdesKey hello_key{};
    int port = 0;
    if (part == "keygen" && argc == 3) {
        once = control_key_once;
    } else if (part == "dialogue" && argc == 5) {
        port = std::atoi(argv[3]);
        const auto key = authserver::parse_hello_key(argv[4]);
        client_key = authserver::RsaKey::generate();
        if (port <= 0 || port > 65535 || !key || !client_key) return usage();
        hello_key = authserver::hello_tdes_key(*key);
        once = [&] { return dialogue_once(port, hello_key, *client_key); };
    } else if (part == "card" && argc == 3) {
        once = card_once;
    } else {
        return usage();
    }

    long ok = 0;
    const auto start = Clock::now();
    for (long i = 0; i < iterations; ++i) ok += once() ? 1 : 0;
    const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
    std::printf("mean_ms=%.2f iterations=%ld ok=%ld\n", elapsed.count() / iterations, iterations,
                ok);
    return ok == iterations ? 0 : 1;
}
