// qardex-tool's command line and hexadecimal input: any arguments give a
// result with an exit code and never throw; hex text round-trips.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "crypto/hex_text.h"
#include "tools/qardex_tool/tool_commands.h"
#include "fuzz/support/finding.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::string> args;
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 6);
  for (std::size_t i = 0; i < count; ++i) args.push_back(input.ConsumeRandomLengthString(600));
  const tool::ToolRun run = tool::RunTool(args);
  QARDEX_FUZZ_CHECK(
      run.exitCode == tool::kExitSuccess || run.exitCode == tool::kExitDecipherFailed ||
          run.exitCode == tool::kExitUsage || run.exitCode == tool::kExitKeyFileFailed,
      "exit code");
  QARDEX_FUZZ_CHECK(run.exitCode == tool::kExitSuccess ? run.err.empty() : !run.err.empty(),
                    "errors go to standard error");

  const std::string hex = input.ConsumeRemainingBytesAsString();
  std::vector<std::uint8_t> bytes;
  if (crypto::ParseHex(hex, &bytes) == crypto::HexParseStatus::kOk) {
    QARDEX_FUZZ_CHECK(bytes.size() * 2 == hex.size(), "hex length");
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    QARDEX_FUZZ_CHECK(crypto::HexUpper(bytes.data(), bytes.size()) == upper, "hex round trip");
  }
  return 0;
}
