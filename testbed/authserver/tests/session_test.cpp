#include "testbed/authserver/session.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "testbed/authserver/messages.h"
#include "testbed/authserver/sam.h"
#include "testbed/vcard/hc_card.h"
#include "testbed/vcard/sam_auth.h"

namespace authserver {
namespace {

using testnet::Clock;
using testnet::UniqueFd;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }
void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// MUTUAL AUTHENTICATE with the SAM data at bytes 9-40 of the "02" reply.
Bytes mutual_auth_apdu(const Bytes& reply02) {
    Bytes apdu = {0x00, 0x82, 0x11, 0x12, 0x20};
    apdu.insert(apdu.end(), reply02.begin() + 9, reply02.begin() + 41);
    apdu.push_back(0x10);
    return apdu;
}

const std::array<std::uint8_t, 16> kHelloKey = {0x79, 0x9D, 0x65, 0x13, 0xB3, 0xAE, 0x5E, 0x44,
                                                0x16, 0x93, 0x7C, 0x51, 0x65, 0xC5, 0x1C, 0x3A};
const std::string kClientRandom = "0042133707770001";

// The control's side of the dialogue, written from the message layouts, with the virtual card
// (testbed/vcard) answering the SAM: the two SAM implementations must agree.
class Client {
 public:
    explicit Client(UniqueFd socket) : socket_(std::move(socket)), reader_(socket_) {}

    void send(const Bytes& data) { ASSERT_TRUE(testnet::send_all(socket_, data)); }
    // Reads one reply ending in the trailer; empty when the server closed first.
    Bytes receive() {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        if (reader_.fill_until("<E>", 4096, deadline) != testnet::ReadStatus::kOk) return {};
        const auto& b = reader_.buffered();
        const std::string text(b.begin(), b.end());
        return reader_.take(text.find("<E>") + kTrailerLength);
    }
    bool closed_by_server() {
        return reader_.fill(reader_.buffered().size() + 1,
                            Clock::now() + std::chrono::seconds(5)) == testnet::ReadStatus::kClosed;
    }
    void close() { socket_.reset(); }

    // Hello and key message; returns the Hello reply's plaintext, sets the session key.
    Bytes exchange_keys(const RsaKey& client_key) {
        const TdesKey hello_key = hello_tdes_key(kHelloKey);
        send(seal(hello_key, pad_block8(bytes_of("Hello " + client_key.public_pem()))));
        const Bytes plain = open_sealed(hello_key, receive()).value.value_or(Bytes{});
        if (plain.size() < 411) return plain;
        const auto server_key =
            RsaKey::from_public_pem(std::string(plain.begin() + 6, plain.begin() + 278));
        const auto secret = client_key.decrypt(Bytes(plain.begin() + 283, plain.begin() + 411));
        if (!server_key || !secret) return plain;
        key_message_ = bytes_of(" 128 ");
        append(key_message_, *server_key->encrypt(bytes_of(kClientRandom)));
        append(key_message_, bytes_of("<E>"));
        key_ = session_tdes_key(kClientRandom, *secret);
        return plain;
    }

    // Key message and "01" in one write, as a fast client may well deliver them.
    Bytes send_card_identity(vcard::HcCard& card) {
        card.process(*vcard::parse_hex("00A4040010D1580000010000000000000000001100"));
        const Bytes challenge = card.process(*vcard::parse_hex("0084000008"));
        Bytes message = key_message_;
        append(message,
               seal(key_, pad_block8(bytes_of(
                              "01<id=12>000012345678<rn=8>" +
                              std::string(challenge.begin(), challenge.begin() + 8) + "<E>"))));
        send(message);
        return open_sealed(key_, receive()).value.value_or(Bytes{});
    }

    Bytes send_card_answer(const Bytes& answer, const std::string& page_random) {
        send(
            seal(key_, pad_block8(bytes_of("03<au=16>" + std::string(answer.begin(), answer.end()) +
                                           "<se=20>" + page_random + "<E>"))));
        return open_sealed(key_, receive()).value.value_or(Bytes{});
    }

 private:
    UniqueFd socket_;
    testnet::StreamReader reader_;
    Bytes key_message_;
    TdesKey key_{};
};

class Session : public ::testing::Test {
 protected:
    static void SetUpTestSuite() {
        server_key_ = std::make_unique<RsaKey>(*RsaKey::generate());
        client_key_ = std::make_unique<RsaKey>(*RsaKey::generate());
    }
    static void TearDownTestSuite() {
        server_key_.reset();
        client_key_.reset();
    }

    void SetUp() override {
        log_path_ = ::testing::TempDir() + "authserver-session-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(log_path_.c_str());
    }

    // Serves one connection in `mode` on a thread; the test plays the control on the other end.
    Client start(ModeKind kind) {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        server_end_ = UniqueFd(ends[0]);
        server_ = std::thread([this, kind] {
            testnet::EventLog log(log_path_);
            const ServerContext context{*server_key_, hello_tdes_key(kHelloKey),
                                        bytes_of(kDefaultCardSecret), std::chrono::seconds(10),
                                        std::chrono::milliseconds(10)};
            serve_connection(server_end_, 1, Mode{kind, 0}, context, log);
            server_end_.reset();
        });
        return Client(UniqueFd(ends[1]));
    }

    std::string finish() {
        if (server_.joinable()) server_.join();
        std::ifstream file(log_path_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static std::unique_ptr<RsaKey> server_key_;
    static std::unique_ptr<RsaKey> client_key_;
    std::string log_path_;
    UniqueFd server_end_;
    std::thread server_;
};
std::unique_ptr<RsaKey> Session::server_key_;
std::unique_ptr<RsaKey> Session::client_key_;

vcard::HcCard make_card() {
    const vcard::CardProfile profile = vcard::default_profile();
    return vcard::HcCard(
        profile, vcard::system_random(),
        std::make_unique<vcard::SharedSecretAuthenticator>(profile.card_id, profile.sam_secret));
}

TEST_F(Session, CardAndServerAuthenticateEachOtherAndTheResultIsLogged) {
    for (ModeKind kind : {ModeKind::kNormal, ModeKind::kSplit}) {
        Client client = start(kind);
        vcard::HcCard card = make_card();
        client.exchange_keys(*client_key_);
        const Bytes reply02 = client.send_card_identity(card);
        ASSERT_EQ(unpad_block8(reply02).value_or(Bytes{}).size(), 44u);
        const Bytes card_response = card.process(mutual_auth_apdu(reply02));
        ASSERT_EQ(card_response.size(), 18u) << "the card refused the SAM's data";
        const std::string page_random("PAGE-RANDOM\0\0\0\0\0\0\0\0\0", 20);
        const Bytes final_reply = client.send_card_answer(
            Bytes(card_response.begin(), card_response.begin() + 16), page_random);
        client.close();
        const std::string log = finish();

        ASSERT_GE(final_reply.size(), 274u);
        EXPECT_EQ(std::string(final_reply.begin() + 8, final_reply.begin() + 10), "OK");
        const std::string result(final_reply.begin() + 18, final_reply.begin() + 274);
        EXPECT_EQ(result, sam_result(bytes_of("000012345678"), bytes_of(page_random)));
        EXPECT_NE(log.find("1 client-random " + kClientRandom + "\n"), std::string::npos) << log;
        EXPECT_NE(log.find("1 id 000012345678\n"), std::string::npos) << log;
        EXPECT_NE(log.find("1 se " + hex_upper(bytes_of(page_random)) + "\n"), std::string::npos);
        EXPECT_NE(log.find("1 card-answer ok\n1 result " + result + "\n"), std::string::npos);
        EXPECT_NE(log.find("1 closed by peer"), std::string::npos) << log;
    }
}

TEST_F(Session, AWrongCardAnswerIsRefusedWithoutAResult) {
    Client client = start(ModeKind::kNormal);
    vcard::HcCard card = make_card();
    client.exchange_keys(*client_key_);
    client.send_card_identity(card);
    const Bytes final_reply = client.send_card_answer(Bytes(16, 'x'), std::string(20, '1'));
    client.close();
    const std::string log = finish();
    ASSERT_GE(final_reply.size(), 10u);
    EXPECT_EQ(std::string(final_reply.begin() + 8, final_reply.begin() + 10), "NO");
    EXPECT_NE(log.find("1 card-answer wrong\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(" result "), std::string::npos) << log;
}

TEST_F(Session, WrongSamDataMakesTheCardRefuse) {
    Client client = start(ModeKind::kWrongSamData);
    vcard::HcCard card = make_card();
    client.exchange_keys(*client_key_);
    const Bytes reply02 = client.send_card_identity(card);
    ASSERT_GE(reply02.size(), 41u);
    const Bytes card_response = card.process(mutual_auth_apdu(reply02));
    EXPECT_EQ(card_response, (Bytes{0x69, 0x82}));
    client.close();
    EXPECT_NE(finish().find("1 end wrong SAM data sent"), std::string::npos);
}

TEST_F(Session, EarlyEndsCloseTheConnectionWhereTheModeSays) {
    {
        Client client = start(ModeKind::kHelloClose);
        EXPECT_TRUE(client.exchange_keys(*client_key_).empty());
        EXPECT_NE(finish().find("1 end closed after the Hello"), std::string::npos);
    }
    {
        Client client = start(ModeKind::kBadSecretBlock);
        const Bytes plain = client.exchange_keys(*client_key_);
        ASSERT_GE(plain.size(), 411u);
        EXPECT_FALSE(client_key_->decrypt(Bytes(plain.begin() + 283, plain.begin() + 411)));
        client.close();
        EXPECT_NE(finish().find("1 end faulty Hello reply sent"), std::string::npos);
    }
    {
        Client client = start(ModeKind::kReply02Close);
        vcard::HcCard card = make_card();
        client.exchange_keys(*client_key_);
        EXPECT_TRUE(client.send_card_identity(card).empty());
        EXPECT_NE(finish().find("1 end closed instead of 02"), std::string::npos);
    }
    {
        Client client = start(ModeKind::kCloseAfterHelloReply);
        EXPECT_GE(client.exchange_keys(*client_key_).size(), 411u);
        EXPECT_TRUE(client.closed_by_server());
        EXPECT_NE(finish().find("1 end closed after the Hello reply"), std::string::npos);
    }
    {
        Client client = start(ModeKind::kCloseAfterKey);
        vcard::HcCard card = make_card();
        client.exchange_keys(*client_key_);
        EXPECT_TRUE(client.send_card_identity(card).empty());
        const std::string log = finish();
        EXPECT_NE(log.find("1 client-random "), std::string::npos) << log;
        EXPECT_NE(log.find("1 end closed after the key message"), std::string::npos) << log;
    }
    {
        Client client = start(ModeKind::kCloseAfter02);
        vcard::HcCard card = make_card();
        client.exchange_keys(*client_key_);
        EXPECT_FALSE(client.send_card_identity(card).empty());
        EXPECT_TRUE(client.closed_by_server());
        EXPECT_NE(finish().find("1 end closed after 02"), std::string::npos);
    }
}

TEST_F(Session, GarbageOrAnEarlyCloseIsLoggedAndEndsOnlyThatConnection) {
    {
        Client client = start(ModeKind::kNormal);
        client.send(Bytes(kHelloWireLength, 'G'));
        client.close();
        EXPECT_NE(finish().find("1 error hello: no trailer"), std::string::npos);
    }
    {
        Client client = start(ModeKind::kNormal);
        client.send(bytes_of("CONNECT"));
        client.close();
        EXPECT_NE(
            finish().find("1 error hello incomplete (peer closed) after 7 bytes: 434F4E4E454354"),
            std::string::npos);
    }
}

}  // namespace
}  // namespace authserver
