// Holding a command in the middle of a call, so that the test runner can act at that moment
// (stop pcscd, pull the card). Before the card answers a held command it removes DIR/STEP.done,
// creates DIR/STEP.request and waits until DIR/STEP.done appears (then it answers as usual) or
// vpcd closes the link (then the card ends), for at most kHoldLimit.
#pragma once

#include <chrono>
#include <map>
#include <string>

#include "testbed/vcard/bytes.h"
#include "testbed/vcard/hc_commands.h"

namespace vcard {

class FrameLink;

inline constexpr std::chrono::seconds kHoldLimit{30};

class StepHolds {
 public:
    enum class Outcome { kAnswer, kLinkClosed };

    StepHolds(std::map<Command, std::string> holds, std::string sync_dir);

    // Waits as described above when `apdu` is a held command; kAnswer at once otherwise.
    Outcome before_answer(const Bytes& apdu, FrameLink& link);

 private:
    std::map<Command, std::string> holds_;
    std::string sync_dir_;
};

}  // namespace vcard
