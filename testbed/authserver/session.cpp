#include "testbed/authserver/session.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "testbed/authserver/messages.h"
#include "testbed/authserver/sam.h"

namespace authserver {
namespace {

using testnet::Clock;
using testnet::ReadStatus;

constexpr std::size_t kServerSecretLength = 24;
constexpr std::size_t kLoggedBytes = 64;
// After the last reply the control closes at once; waiting for that keeps our close from
// racing its last read.
constexpr auto kLingerAfterReply = std::chrono::seconds(5);

std::string text_or_hex(const Bytes& bytes) {
    const bool printable = std::all_of(bytes.begin(), bytes.end(),
                                       [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
    return printable ? std::string(bytes.begin(), bytes.end()) : "hex:" + hex_upper(bytes);
}

HelloReplyFault hello_fault(ModeKind kind) {
    switch (kind) {
        case ModeKind::kHelloBadPadding:
            return HelloReplyFault::kBadPadding;
        case ModeKind::kHelloNotHello:
            return HelloReplyFault::kNotHello;
        case ModeKind::kBadServerKey:
            return HelloReplyFault::kBadKeyText;
        default:
            return HelloReplyFault::kNone;
    }
}

Reply02Fault reply02_fault(ModeKind kind) {
    switch (kind) {
        case ModeKind::kReply02Long:
            return Reply02Fault::kLength45;
        case ModeKind::kReply02Not02:
            return Reply02Fault::kNot02;
        default:
            return Reply02Fault::kNone;
    }
}

class Session {
 public:
    Session(const testnet::UniqueFd& socket, int number, const Mode& mode,
            const ServerContext& context, testnet::EventLog& log)
        : socket_(socket),
          reader_(socket, context.quick_ack),
          number_(number),
          mode_(mode),
          context_(context),
          log_(log),
          deadline_(Clock::now() + context.connection_limit) {}

    // The dialogue, then one "timing" line: milliseconds from the accept to each message in
    // ("<" NAME) and out (">" NAME), for the benchmark's split of a call.
    void run() {
        run_dialogue();
        std::string text;
        for (const auto& [name, when] : marks_) {
            const std::chrono::duration<double, std::milli> since = when - accepted_;
            char entry[64];
            std::snprintf(entry, sizeof entry, "%s%s=%.1f", text.empty() ? "" : " ", name.c_str(),
                          since.count());
            text += entry;
        }
        log("timing", text.empty() ? "none" : text);
    }

 private:
    void run_dialogue() {
        std::string name(mode_name(mode_.kind));
        if (mode_.seconds > 0) name += ":" + std::to_string(mode_.seconds);
        log("mode", name);
        if (mode_.kind == ModeKind::kAcceptClose) return log("closed");

        if (!exchange_keys()) return;
        Bytes card_id;
        Bytes sam_data;
        if (!answer_card_identity(card_id, sam_data)) return;
        check_card_answer(card_id, sam_data);
    }

    void mark(const std::string& name) { marks_.emplace_back(name, Clock::now()); }

    void log(const std::string& key, const std::string& value = {}) {
        log_.write(number_, key, value);
    }

    // Logs the reason and waits until the control closes (it is about to).
    void stop(const std::string& reason) {
        log("end", reason);
        const ReadStatus status = reader_.drain(deadline_);
        log("closed", status == ReadStatus::kClosed ? "by peer" : testnet::describe(status));
    }

    bool receive(std::size_t length, const char* what, Bytes& out) {
        const ReadStatus status = reader_.fill(length, deadline_);
        if (status != ReadStatus::kOk) {
            const Bytes& got = reader_.buffered();
            const Bytes head(got.begin(), got.begin() + std::min(got.size(), kLoggedBytes));
            log("error", std::string(what) + " incomplete (" + testnet::describe(status) +
                             ") after " + std::to_string(got.size()) +
                             " bytes: " + hex_upper(head));
            return false;
        }
        out = reader_.take(length);
        mark(std::string("<") + (std::strcmp(what, "key message") == 0 ? "key" : what));
        return true;
    }

    // At least one more byte than buffered now.
    bool receive_more(const char* what) {
        const std::size_t have = reader_.buffered().size();
        const ReadStatus status = reader_.fill(have + 1, deadline_);
        if (status == ReadStatus::kOk) return true;
        log("error", std::string(what) + " incomplete (" + testnet::describe(status) + ") after " +
                         std::to_string(have) + " bytes");
        return false;
    }

    bool reply(const Bytes& data, int delay_seconds, const char* what) {
        if (delay_seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(delay_seconds));
        const bool sent = mode_.kind == ModeKind::kSplit
                              ? testnet::send_in_pieces(socket_, data, 3, context_.piece_pause)
                              : testnet::send_all(socket_, data);
        if (!sent) log("error", "the control went away before a reply");
        if (sent) mark(std::string(">") + what);
        return sent;
    }

    int delay_for(ModeKind slow_kind) const { return mode_.kind == slow_kind ? mode_.seconds : 0; }

    // Hello, Hello reply and key message; leaves the session key in key_.
    bool exchange_keys() {
        Bytes wire;
        if (!receive(kHelloWireLength, "hello", wire)) return false;
        const auto hello = parse_hello(wire, context_.hello_key);
        if (!hello.value) return log("error", hello.error), false;
        const auto client_key = RsaKey::from_public_pem(*hello.value);
        if (!client_key) return log("error", "hello: unreadable client key"), false;
        log("hello", "client key " + std::to_string(hello.value->size()) + " bytes");

        switch (mode_.kind) {
            case ModeKind::kHelloSilent:
                return stop("no Hello reply"), false;
            case ModeKind::kHelloClose:
                return log("end", "closed after the Hello"), false;
            case ModeKind::kHelloEmpty:
                reply(Bytes{'<', 'E', '>'}, 0, "hello");
                return stop("empty Hello reply"), false;
            default:
                break;
        }

        Bytes secret(kServerSecretLength);
        if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) {
            return log("error", "no random bytes"), false;
        }
        Bytes block(kRsaBlockLength, 0xFF);  // larger than any modulus: never decipherable
        if (mode_.kind != ModeKind::kBadSecretBlock) {
            const auto enciphered = client_key->encrypt(secret);
            if (!enciphered) return log("error", "cannot encipher the secret"), false;
            block = *enciphered;
        }
        const HelloReplyFault fault = hello_fault(mode_.kind);
        if (!reply(build_hello_reply(context_.server_key.public_pem(), block, context_.hello_key,
                                     fault),
                   delay_for(ModeKind::kSlowHello), "hello")) {
            return false;
        }
        if (fault != HelloReplyFault::kNone || mode_.kind == ModeKind::kBadSecretBlock) {
            return stop("faulty Hello reply sent"), false;
        }
        if (mode_.kind == ModeKind::kCloseAfterHelloReply) {
            return log("end", "closed after the Hello reply"), false;
        }

        // " 128 " + block + "<E>": the header tells the length.
        std::optional<std::size_t> length;
        while (!(length = key_message_length(reader_.buffered()))) {
            if (!receive_more("key message")) return false;
        }
        if (*length == 0) return log("error", "key message without its \" N \" header"), false;
        if (!receive(*length, "key message", wire)) return false;
        const auto block_received = parse_key_message(wire);
        if (!block_received.value) return log("error", block_received.error), false;
        const auto client_random = context_.server_key.decrypt(*block_received.value);
        if (!client_random) return log("error", "key message: cannot decipher the block"), false;
        log("client-random", text_or_hex(*client_random));
        key_ = session_tdes_key(std::string(client_random->begin(), client_random->end()), secret);
        if (mode_.kind == ModeKind::kCloseAfterKey) {
            return log("end", "closed after the key message"), false;
        }
        return true;
    }

    bool answer_card_identity(Bytes& card_id, Bytes& sam_data) {
        Bytes wire;
        if (!receive(kRequest01WireLength, "01", wire)) return false;
        const auto identity = parse_request01(wire, key_);
        if (!identity.value) return log("error", identity.error), false;
        card_id = identity.value->card_id;
        log("id", text_or_hex(card_id));
        log("challenge", hex_upper(identity.value->challenge));
        if (mode_.kind == ModeKind::kReply02Close) return log("end", "closed instead of 02"), false;

        sam_data =
            sam_authentication_data(card_id, identity.value->challenge, context_.card_secret);
        Bytes sent_data = sam_data;
        if (mode_.kind == ModeKind::kWrongSamData) sent_data[0] ^= 0x01;
        log("sam-data", hex_upper(sent_data));
        const Reply02Fault fault = reply02_fault(mode_.kind);
        const Bytes message = build_reply02(sent_data, key_, fault);
        if (mode_.kind == ModeKind::kTrickle02) {
            reply(Bytes(message.begin(), message.begin() + 8), 0, "02");
            return stop("02 reply cut after 8 bytes"), false;
        }
        if (!reply(message, delay_for(ModeKind::kSlow02), "02")) return false;
        if (fault != Reply02Fault::kNone) return stop("faulty 02 reply sent"), false;
        if (mode_.kind == ModeKind::kWrongSamData) return stop("wrong SAM data sent"), false;
        if (mode_.kind == ModeKind::kCloseAfter02) return log("end", "closed after 02"), false;
        return true;
    }

    void check_card_answer(const Bytes& card_id, const Bytes& sam_data) {
        Bytes wire;
        if (!receive(kRequest03WireLength, "03", wire)) return;
        const auto answer = parse_request03(wire, key_);
        if (!answer.value) return log("error", answer.error);
        log("au", hex_upper(answer.value->answer));
        log("se", hex_upper(answer.value->page_random));
        const bool genuine =
            answer.value->answer == expected_card_answer(sam_data, context_.card_secret);
        log("card-answer", genuine ? "ok" : "wrong");
        if (mode_.kind == ModeKind::kFinalClose) return log("end", "closed instead of the final");

        const bool accepted = genuine && mode_.kind != ModeKind::kFinalNotOk;
        const std::string result = sam_result(card_id, answer.value->page_random);
        if (accepted) log("result", result);
        if (!reply(build_final_reply(accepted, result, key_), delay_for(ModeKind::kSlowFinal),
                   "final")) {
            return;
        }
        log("end", accepted ? "final OK sent" : "final NO sent");
        deadline_ = std::min(deadline_, Clock::now() + kLingerAfterReply);
        const ReadStatus status = reader_.drain(deadline_);
        log("closed", status == ReadStatus::kClosed ? "by peer" : testnet::describe(status));
        mark("closed");
    }

    const testnet::UniqueFd& socket_;
    testnet::StreamReader reader_;
    int number_;
    Mode mode_;
    const ServerContext& context_;
    testnet::EventLog& log_;
    Clock::time_point deadline_;
    TdesKey key_{};
    Clock::time_point accepted_ = Clock::now();
    std::vector<std::pair<std::string, Clock::time_point>> marks_;
};

}  // namespace

void serve_connection(const testnet::UniqueFd& socket, int number, const Mode& mode,
                      const ServerContext& context, testnet::EventLog& log) {
    Session(socket, number, mode, context, log).run();
}

}  // namespace authserver
