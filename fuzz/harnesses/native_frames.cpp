// Native messaging from the browser: a byte stream read in pieces of a size the input decides.
// Every message read is within the bound and as long as its frame announced.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/support/finding.h"
#include "messaging/native_frames.h"
#include "tests/unit/fakes/piece_source.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t piece = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
  const std::size_t limit = input.ConsumeIntegralInRange<std::size_t>(0, 1 << 16);
  messaging::testing::PieceSource source(input.ConsumeRemainingBytesAsString(), piece);
  messaging::FrameRead frame;
  while ((frame = messaging::ReadFrame(source, limit)).status == messaging::FrameStatus::Message) {
    QARDEX_FUZZ_CHECK(frame.json.size() <= limit, "a message within the bound");
    QARDEX_FUZZ_CHECK(frame.announced == frame.json.size(), "a message is what its frame said");
  }
  return 0;
}
