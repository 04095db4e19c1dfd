// Reads a card profile from "key = value" lines (format in README.md).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "testbed/vcard/card_profile.h"

namespace vcard {

struct ConfigResult {
    std::optional<CardProfile> profile;
    std::string error;  // "line N: ..." when profile is empty
};

// Keys not given keep the values of default_profile().
ConfigResult parse_card_config(std::string_view text);

// Reads the file and parses it; a file that cannot be read is an error too.
ConfigResult load_card_config(const std::string& path);

}  // namespace vcard
