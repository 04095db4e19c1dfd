// The page protocol over one browser port of native messaging: each message from the extension
// asks one thing for one page (its origin as the browser reported the sender), each answer and
// event goes back tagged with the asker's id. Calls run side by side (the protocol keeps one call
// at a time per session and the runner one card transaction at a time); a cancel gives up a
// waiting call or ends a watch. Pure: the input, the output and the threads come in from outside.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

#include "messaging/native_frames.h"
#include "protocol/caller.h"
#include "protocol/page_protocol.h"
#include "protocol/service_log.h"

namespace qardex::messaging {

// Where answers go (the host's standard output): one whole message per call, safe from any
// thread; false once the output is gone.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual bool Send(std::string_view json) = 0;
};

// Runs `work` on a thread nobody waits for; false when no thread could be had.
using ThreadStarter = std::function<bool(std::function<void()> work)>;

struct ChannelLimits {
  // Calls and watches held at once; one more is answered 429 without running.
  std::size_t maxRunning = 32;
  // How long the channel, once its input is done, waits for calls still running.
  std::chrono::milliseconds drain{5000};
  // How often a watch looks whether it was cancelled, and whether its session still is.
  std::chrono::milliseconds eventSlice{250};
  std::chrono::milliseconds sessionCheck{15'000};
};

enum class ChannelEnd {
  InputEnded,  // the browser closed the port
  Malformed,   // a message that is not ours: too large, cut short, not JSON or not a request
  OutputGone,  // the browser stopped reading
};

// Serves until the input ends, a message is malformed or the output is gone; then cancels what
// runs and waits at most `limits.drain` for it. Logs why a malformed input ended it. Never throws.
// A call still running after the drain (a card or network step cannot be cut short) keeps
// `output` and `protocol` in use: the host then ends its process without destroying them.
ChannelEnd ServeChannel(ByteSource& input, MessageSink& output, service::PageProtocol& protocol,
                        const service::Caller& caller, service::ServiceLog& log,
                        const ThreadStarter& startThread, const ChannelLimits& limits = {});

}  // namespace qardex::messaging
