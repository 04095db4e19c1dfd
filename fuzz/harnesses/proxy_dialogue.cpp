// The proxy dialogue against a hostile proxy: status line, header lines and
// authentication challenges, with pauses, failures, or a stream that never
// pauses. The dialogue must end within its limit whatever the proxy sends.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "cloud/relay.h"
#include "fuzz/support/finding.h"
#include "fuzz/support/scripted_socket.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();

  // The status line parser on its own, as the dialogue's first line.
  const std::string line = input.ConsumeRandomLengthString(256);
  const int status = cloud::ParseStatusCode(line.c_str());
  QARDEX_FUZZ_CHECK(status >= -1 && status <= 99999, "status code out of range");

  fuzzing::ScriptedSocket socket;
  socket.set_endless((flags & 1) != 0);
  if ((flags & 6) == 6) socket.set_failing_send(1 + ((flags >> 3) & 1));
  socket.ReadScript(input, 64);
  cloud::ResetProxyBasicAuthSeenForTests();
  socket.ArmWatchdog(cloud::kProxyDialogueLimitMs);
  int result = 0;
  try {
    result = cloud::begin_http_relay(socket, "auth.qardex.example", 443);
  } catch (const fuzzing::LoopPastLimit&) {
    return 0;  // a known fault, looked past
  }
  QARDEX_FUZZ_CHECK(result >= -1 && result <= 1, "proxy dialogue result");
  // No credentials are ever sent: only the request line and the blank line go out.
  QARDEX_FUZZ_CHECK(socket.sent().find("Authorization") == std::string::npos,
                    "credentials sent to a proxy");
  return 0;
}
