// Appends "command -> response" lines (uppercase hex) so scenarios can check what a card saw.
#pragma once

#include <fstream>
#include <string>

#include "testbed/vcard/bytes.h"

namespace vcard {

class ApduLog {
 public:
    // Opens `path` for appending; ok() tells whether that worked.
    explicit ApduLog(const std::string& path);

    bool ok() const { return static_cast<bool>(file_); }
    void record(const Bytes& command, const Bytes& response);

    static std::string format_line(const Bytes& command, const Bytes& response);

 private:
    std::ofstream file_;
};

}  // namespace vcard
