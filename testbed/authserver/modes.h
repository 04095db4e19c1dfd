// How the test server treats each connection: one mode per connection, in the order given on the
// command line ("normal,hello-bad-padding,normal*3,slow-hello:5").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace authserver {

enum class ModeKind {
    kNormal,                // the whole dialogue
    kSplit,                 // every reply in three pieces with pauses between them
    kSlowHello,             // waits `seconds` before the Hello reply
    kSlow02,                // waits `seconds` before the "02" reply
    kSlowFinal,             // waits `seconds` before the final reply
    kTrickle02,             // sends the first 8 bytes of the "02" reply, then nothing
    kHelloSilent,           // reads the Hello and never answers
    kHelloClose,            // reads the Hello and closes
    kHelloEmpty,            // answers the Hello with the trailer alone
    kHelloBadPadding,       // Hello reply whose last plaintext byte is 9
    kHelloNotHello,         // Hello reply not starting with "Hello"
    kBadServerKey,          // Hello reply with an unreadable public key text
    kBadSecretBlock,        // Hello reply whose RSA block cannot be deciphered
    kReply02Long,           // "02" reply of 45 bytes after unpadding
    kReply02Not02,          // "02" reply starting with other bytes
    kReply02Close,          // closes instead of the "02" reply
    kWrongSamData,          // SAM data the card must refuse
    kFinalNotOk,            // final reply without "OK"
    kFinalClose,            // closes instead of the final reply
    kAcceptClose,           // closes right after accepting
    kCloseAfterHelloReply,  // sends the Hello reply, closes before the key message
    kCloseAfterKey,         // reads the key message, closes before the "01" request
    kCloseAfter02,          // sends the "02" reply, closes before the "03" request
};

struct Mode {
    ModeKind kind = ModeKind::kNormal;
    int seconds = 0;  // for the slow modes
};

std::string_view mode_name(ModeKind kind);

struct ModeListResult {
    std::vector<Mode> modes;
    std::string error;  // set when the list is unusable
};

// Items separated by commas: NAME, NAME:SECONDS (slow modes), NAME*COUNT or NAME:SECONDS*COUNT.
// At most 10000 connections in all.
ModeListResult parse_mode_list(std::string_view text);

// The names with a line of explanation each, for the usage text.
std::string describe_modes();

}  // namespace authserver
