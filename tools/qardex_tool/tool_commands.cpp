#include "tools/qardex_tool/tool_commands.h"

#include "crypto/card_ciphers.h"
#include "crypto/hex_text.h"
#include "crypto/key_material.h"
#include "tools/qardex_tool/tool_arguments.h"

namespace qardex::tool {

namespace {

constexpr char kErrorPrefix[] = "qardex-tool: ";

ToolRun ReportDeciphered(const crypto::Deciphered& result) {
  if (!result.ok()) {
    return {kExitDecipherFailed,
            {},
            kErrorPrefix + std::string(crypto::DescribeDecipherError(result.error)) + "\n"};
  }
  return {kExitSuccess, result.bytes + "\n", {}};
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args) {
  const ParsedArguments parsed = ParseToolArguments(args);
  if (!parsed.arguments) {
    return {kExitUsage, {}, kErrorPrefix + parsed.error + "\n" + kToolUsage};
  }
  const ToolArguments& arguments = *parsed.arguments;
  switch (arguments.command) {
    case ToolCommand::kDecryptBasic:
      return ReportDeciphered(
          crypto::DecipherBasicText(arguments.hex, crypto::BuildDateKey(arguments.date)));
    case ToolCommand::kDecryptEncrypt:
      return ReportDeciphered(crypto::DecipherPageString(
          arguments.hex, crypto::BuildCardKey(arguments.cardNumber, arguments.date)));
    case ToolCommand::kHelloKey: {
      const crypto::HelloKey key = crypto::BuildHelloKey();
      return {kExitSuccess, crypto::HexUpper(key.data(), key.size()) + "\n", {}};
    }
  }
  return {kExitUsage, {}, kErrorPrefix + std::string("unknown command\n")};
}

}  // namespace qardex::tool
