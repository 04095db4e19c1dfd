// The page's code argument: its parsing against a plain reading, and the
// message chosen for it whatever text the system gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "engine/error_catalogue.h"
#include "fuzz/support/finding.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t wideLength = input.ConsumeIntegralInRange<std::size_t>(0, 12);
  const std::string narrow = input.ConsumeRandomLengthString(32);
  const std::string systemText = input.ConsumeRemainingBytesAsString();

  const std::optional<std::int32_t> code = engine::ParseCodeArgument(wideLength, narrow);
  bool digits = true;
  for (char c : narrow) digits = digits && c >= '0' && c <= '9';
  const std::string significant =
      narrow.substr(std::min(narrow.find_first_not_of('0'), narrow.size()));
  // Five units at most, digits only; a narrow form longer than its units is never trusted.
  if (code) {
    QARDEX_FUZZ_CHECK(wideLength <= 5 && digits, "accepted code");
    QARDEX_FUZZ_CHECK(*code >= 0 && *code <= 999999, "code range");
    QARDEX_FUZZ_CHECK(significant.size() > 6
                          ? false
                          : *code == (significant.empty() ? 0 : std::stoi(significant)),
                      "code value");
  } else {
    QARDEX_FUZZ_CHECK(wideLength > 5 || !digits || significant.size() > 6, "refused code");
  }
  const std::int32_t number = code ? *code : input.ConsumeIntegral<std::int32_t>();
  const std::string message =
      engine::MessageForCode(number, [&](std::int32_t) { return systemText; });
  QARDEX_FUZZ_CHECK(message.size() <= engine::kMessageLimit, "message limit");
  return 0;
}
