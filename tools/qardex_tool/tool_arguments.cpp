#include "tools/qardex_tool/tool_arguments.h"

#include <cstring>
#include <utility>

namespace qardex::tool {

const char kToolUsage[] =
    "usage:\n"
    "  qardex-tool decrypt-basic --date YYYYMMDD HEX\n"
    "      prints the basic-data line; the date is the UTC date of the call\n"
    "  qardex-tool decrypt-encrypt --card-number NNNNNNNNNNNN --date YYYYMMDD HEX\n"
    "      prints the page string's bytes; the date is the local date of the call\n"
    "  qardex-tool hello-key\n"
    "      prints the Hello key as 32 hex digits\n"
    "  qardex-tool server-key-pin FILE.pem\n"
    "      prints the pin-list digest of a public key or certificate PEM file\n";

namespace {

constexpr char kDateOption[] = "--date";
constexpr char kCardNumberOption[] = "--card-number";

struct CommandName {
  const char* name;
  ToolCommand command;
  bool takesDate;
  bool takesCardNumber;
  const char* operand;  // what the one argument is, or nullptr when none is taken
};

constexpr CommandName kCommands[] = {
    {"decrypt-basic", ToolCommand::kDecryptBasic, true, false, "hex text"},
    {"decrypt-encrypt", ToolCommand::kDecryptEncrypt, true, true, "hex text"},
    {"hello-key", ToolCommand::kHelloKey, false, false, nullptr},
    {"server-key-pin", ToolCommand::kServerKeyPin, false, false, "key file"},
};

ParsedArguments Fail(std::string error) { return ParsedArguments{std::nullopt, std::move(error)}; }

}  // namespace

ParsedArguments ParseToolArguments(const std::vector<std::string>& args) {
  if (args.empty()) return Fail("no command given");
  const CommandName* command = nullptr;
  for (const CommandName& candidate : kCommands) {
    if (args[0] == candidate.name) command = &candidate;
  }
  if (command == nullptr) return Fail("unknown command '" + args[0] + "'");

  std::optional<std::string> dateText, cardNumberText, operand;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool isDate = arg == kDateOption;
    if (isDate || arg == kCardNumberOption) {
      if (isDate ? !command->takesDate : !command->takesCardNumber) {
        return Fail("option " + arg + " does not apply to " + command->name);
      }
      std::optional<std::string>& slot = isDate ? dateText : cardNumberText;
      if (slot) return Fail("option " + arg + " given twice");
      if (i + 1 == args.size()) return Fail("option " + arg + " needs a value");
      slot = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail("unknown option '" + arg + "'");
    } else if (command->operand == nullptr || operand) {
      return Fail("unexpected argument '" + arg + "'");
    } else {
      operand = arg;
    }
  }

  ToolArguments parsed;
  parsed.command = command->command;
  if (command->takesDate) {
    if (!dateText) return Fail(std::string("option ") + kDateOption + " is required");
    const std::optional<crypto::CalendarDate> date = crypto::ParseCompactDate(*dateText);
    if (!date) return Fail("bad date '" + *dateText + "' (expected a valid YYYYMMDD)");
    parsed.date = *date;
  }
  if (command->takesCardNumber) {
    if (!cardNumberText) return Fail(std::string("option ") + kCardNumberOption + " is required");
    if (cardNumberText->size() != parsed.cardNumber.size()) {
      return Fail("the card number must be 12 characters, not " +
                  std::to_string(cardNumberText->size()));
    }
    std::memcpy(parsed.cardNumber.data(), cardNumberText->data(), parsed.cardNumber.size());
  }
  if (command->operand != nullptr) {
    if (!operand) return Fail(std::string("the ") + command->operand + " is missing");
    parsed.operand = *operand;
  }
  return ParsedArguments{parsed, {}};
}

}  // namespace qardex::tool
