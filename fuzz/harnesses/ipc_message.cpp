// The service's and the worker's messages: a byte stream cut into frames, fed in pieces of a size
// the input decides, each payload decoded. A payload that decodes is exactly what its message
// encodes to, and the reader never holds a whole frame's worth beyond the frame it waits for.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/support/finding.h"
#include "ipc/message.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t piece = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
  const std::string stream = input.ConsumeRemainingBytesAsString();

  ipc::FrameReader reader;
  std::string payload;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    reader.Feed(std::string_view(stream).substr(at, piece));
    ipc::FrameReader::Status status;
    while ((status = reader.Next(payload)) == ipc::FrameReader::Status::Ready) {
      QARDEX_FUZZ_CHECK(payload.size() <= ipc::kMaxPayloadBytes, "payload within the limit");
      const std::optional<ipc::Message> message = ipc::Decode(payload);
      QARDEX_FUZZ_CHECK(!message || ipc::Encode(*message) == payload,
                        "a decoded message encodes back to its payload");
    }
    QARDEX_FUZZ_CHECK(reader.Pending() < ipc::kFrameHeaderBytes + ipc::kMaxPayloadBytes,
                      "frame reader holds at most one frame");
    if (status == ipc::FrameReader::Status::Oversized) {
      QARDEX_FUZZ_CHECK(reader.Pending() == 0, "a broken stream is dropped");
      break;
    }
  }
  return 0;
}
