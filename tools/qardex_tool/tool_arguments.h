// Command line of qardex-tool:
//   qardex-tool decrypt-basic --date YYYYMMDD HEX
//   qardex-tool decrypt-encrypt --card-number NNNNNNNNNNNN --date YYYYMMDD HEX
//   qardex-tool hello-key
//   qardex-tool server-key-pin FILE.pem
// Options may come before or after HEX.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crypto/calendar_date.h"
#include "crypto/key_material.h"

namespace qardex::tool {

enum class ToolCommand { kDecryptBasic, kDecryptEncrypt, kHelloKey, kServerKeyPin };

struct ToolArguments {
  ToolCommand command = ToolCommand::kHelloKey;
  crypto::CalendarDate date{};
  crypto::CardNumber cardNumber{};
  std::string operand;  // the hex text, or the key file's path
};

// Exactly one of the two is set.
struct ParsedArguments {
  std::optional<ToolArguments> arguments;
  std::string error;
};

// `args` excludes the program name.
ParsedArguments ParseToolArguments(const std::vector<std::string>& args);

extern const char kToolUsage[];

}  // namespace qardex::tool
