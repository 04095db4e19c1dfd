#include "https/connection_loop.h"

#include <cstdint>
#include <optional>
#include <utility>

namespace qardex::service {

namespace {

using Clock = ConnectionRegistry::Clock;

// Sends the feed's events until it ends, the client goes, a send stalls or the wait is halted.
void StreamEvents(ByteStream& stream, EventFeed& feed, const ConnectionContext& context,
                  const Halt& halt) {
  std::string bytes;
  while (!halt() && !stream.PeerGone(nullptr)) {
    if (!feed.Next(bytes, kStopPoll)) return;
    if (!bytes.empty() && !stream.SendAll(bytes, context.clock() + context.limits.send, halt)) {
      return;
    }
  }
}

// A caller that is not known counts in session 0, with the services. Beyond its session's share,
// a newcomer waits until one of the session's own requests has stalled long enough to give its
// place up, instead of being turned away while they are still fresh.
bool TakePlace(const ConnectionContext& context, std::uint32_t windowsSession, const Halt& halt) {
  const Clock::time_point placeBy = context.clock() + ConnectionRegistry::kStalledRequestGrace;
  while (!context.connections.Assign(context.place, windowsSession, context.clock())) {
    if (context.clock() >= placeBy || halt()) return false;
    context.pause(kPlacePoll);
  }
  return true;
}

}  // namespace

void ServeConnection(ByteStream& stream, const ConnectionContext& context) {
  const ConnectionLimits& limits = context.limits;
  ConnectionRegistry::Place& place = context.place;
  const Halt halt{context.stop, &place};
  if (!stream.Handshake(context.clock() + limits.handshake, halt)) return;
  // Only now: a peer that never completes a handshake costs no look-up of the system's tables.
  CallerCheck caller = context.identify();
  if (!TakePlace(context, caller.caller.windowsSession, halt)) return;
  const std::unique_ptr<RequestExchange> exchange = context.makeExchange(std::move(caller));
  Clock::time_point deadline = context.clock() + limits.idle;
  Clock::time_point requestStart{};
  std::string early;  // what the client sent while a call of its ran
  std::string input;
  const Abandoned gone = [&] { return stream.PeerGone(&early); };
  while (true) {
    const bool betweenRequests = !exchange->InRequest();
    // The request's clock starts with the first bytes on the wire, not the first decrypted ones;
    // from then on the connection is receiving a request (evictable once that stalls).
    std::optional<Clock::time_point> firstAt;
    const FirstBytes first = [&]() -> std::optional<Clock::time_point> {
      firstAt = context.clock();
      if (!place.Receiving(*firstAt)) return std::nullopt;
      return *firstAt + limits.request;
    };
    if (!early.empty()) {
      input = std::exchange(early, {});
    } else {
      input = stream.Read(deadline, halt, betweenRequests ? &first : nullptr);
      if (input.empty()) return;  // closed by the client, failed, too slow, evicted, or stopping
    }
    const Clock::time_point now = context.clock();
    // Bytes TLS held already begin a request too. While they are parsed (and a request they
    // complete is answered) the connection is busy, never evicted.
    if (!place.Busy()) return;
    if (betweenRequests) requestStart = firstAt.value_or(now);
    const std::string answers = exchange->Receive(input, gone);
    if (!answers.empty() && !stream.SendAll(answers, now + limits.send, halt)) return;
    if (const std::shared_ptr<EventFeed> events = exchange->TakeEvents()) {
      StreamEvents(stream, *events, context, halt);
      return;
    }
    if (exchange->Closing()) {
      stream.ClosePolitely();
      return;
    }
    if (exchange->InRequest()) {
      if (!place.Receiving(requestStart)) return;
      deadline = requestStart + limits.request;
    } else {
      place.Idle(context.clock());
      deadline = context.clock() + limits.idle;
    }
  }
}

}  // namespace qardex::service
