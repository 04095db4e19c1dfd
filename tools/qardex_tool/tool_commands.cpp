#include "tools/qardex_tool/tool_commands.h"

#include <fstream>
#include <iterator>

#include "cloud/key_digest.h"
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

// A PEM file is a few kilobytes; anything far larger is not one.
constexpr std::streamsize kKeyFileLimit = 1 << 20;

ToolRun ReportKeyDigest(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {kExitKeyFileFailed, {}, kErrorPrefix + ("cannot read '" + path + "'\n")};
  std::string text(static_cast<std::size_t>(kKeyFileLimit) + 1, '\0');
  file.read(text.data(), kKeyFileLimit + 1);
  text.resize(static_cast<std::size_t>(file.gcount()));
  const std::string digest =
      text.size() > static_cast<std::size_t>(kKeyFileLimit) ? "" : cloud::PemKeyDigest(text);
  if (digest.empty()) {
    return {kExitKeyFileFailed,
            {},
            kErrorPrefix + ("'" + path + "' holds no PEM public key or certificate\n")};
  }
  return {kExitSuccess, digest + "\n", {}};
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
          crypto::DecipherBasicText(arguments.operand, crypto::BuildDateKey(arguments.date)));
    case ToolCommand::kDecryptEncrypt:
      return ReportDeciphered(crypto::DecipherPageString(
          arguments.operand, crypto::BuildCardKey(arguments.cardNumber, arguments.date)));
    case ToolCommand::kHelloKey: {
      const crypto::HelloKey key = crypto::BuildHelloKey();
      return {kExitSuccess, crypto::HexUpper(key.data(), key.size()) + "\n", {}};
    }
    case ToolCommand::kServerKeyPin:
      return ReportKeyDigest(arguments.operand);
  }
  return {kExitUsage, {}, kErrorPrefix + std::string("unknown command\n")};
}

}  // namespace qardex::tool
