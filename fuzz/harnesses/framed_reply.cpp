// A server reply as the session receives it: the "<E>"-framed receive, then
// the message opening and the padding removal, into buffers of the sizes the
// session uses. The receive must end within its limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "cloud/relay.h"
#include "cloud/sam_messages.h"
#include "cloud/sam_session.h"
#include "crypto/block_padding.h"
#include "fuzz/support/finding.h"
#include "fuzz/support/scripted_socket.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  const std::size_t bufferSize =
      (flags & 1) ? cloud::kFinalReplyBufferSize : cloud::kReplyBufferSize;
  const int waitSeconds =
      (flags & 2) ? cloud::kLaterReplyWaitSeconds : cloud::kHelloReplyWaitSeconds;
  crypto::TdeaKey key{};
  input.ConsumeData(key.data(), key.size());

  fuzzing::ScriptedSocket socket;
  socket.set_endless((flags & 4) != 0);
  socket.ReadScript(input, 64);
  socket.ArmWatchdog(waitSeconds * 1000LL + cloud::kFramedReplyLimitMs);
  std::vector<std::uint8_t> wire(bufferSize, 0);
  int received = 0;
  try {
    received = cloud::recv_framed(socket, reinterpret_cast<char*>(wire.data()), wire.size(), 0,
                                  waitSeconds);
  } catch (const fuzzing::LoopPastLimit&) {
    return 0;  // a known fault, looked past
  }
  socket.DisarmWatchdog();
  QARDEX_FUZZ_CHECK(
      received >= -1 && static_cast<std::size_t>(received < 0 ? 0 : received) <= bufferSize,
      "framed receive length");
  if (received <= 0) return 0;
  QARDEX_FUZZ_CHECK(received >= 3 && std::memcmp(wire.data() + received - 3, "<E>", 3) == 0,
                    "a framed reply ends in its trailer");

  std::vector<std::uint8_t> plain(bufferSize + 1, 0);
  std::size_t length = cloud::OpenMessage(wire.data(), static_cast<std::size_t>(received), key,
                                          plain.data(), bufferSize);
  QARDEX_FUZZ_CHECK(length <= bufferSize && length + 3 <= static_cast<std::size_t>(received),
                    "opened length");
  if (length > 0) {
    const std::size_t unpadded = crypto::unpad_block8(plain.data(), length);
    QARDEX_FUZZ_CHECK(unpadded <= length, "unpadding grows the message");
    length = unpadded;
  }
  const auto strict = crypto::CheckedUnpadLength(plain.data(), length);
  QARDEX_FUZZ_CHECK(!strict || *strict < length, "strict unpadding");
  return 0;
}
