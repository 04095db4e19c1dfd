#include "fuzz/support/scripted_socket.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/support/finding.h"

namespace qardex::fuzzing {

namespace {
constexpr int kConnectionReset = 10054;
constexpr int kLongestSilenceMs = 100'000;
constexpr std::size_t kLongestDataEvent = 2048;
}  // namespace

void ScriptedSocket::ReadScript(FuzzedDataProvider& input, std::size_t maxEvents) {
  while (input.remaining_bytes() > 0 && script_.size() < maxEvents) {
    Event event{};
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        event.kind = Event::Kind::Silence;
        event.silenceMs = input.ConsumeIntegralInRange<int>(1, kLongestSilenceMs);
        break;
      case 1:
        event.kind = Event::Kind::RecvError;
        break;
      case 2:
        event.kind = Event::Kind::SelectError;
        break;
      case 3:
        event.kind = Event::Kind::Close;
        break;
      default:
        event.kind = Event::Kind::Data;
        event.data = input.ConsumeRandomLengthString(kLongestDataEvent);
        if (event.data.empty()) continue;
        break;
    }
    script_.push_back(std::move(event));
  }
}

void ScriptedSocket::Tick(std::int64_t milliseconds) {
  now_ += milliseconds;
  if (watchdogAt_ >= 0 && now_ > watchdogAt_) {
    if (KnownFault("receive loop ran past its limit")) throw LoopPastLimit{};
    std::fprintf(stderr, "receive loop ran past its limit: clock %lld ms, limit %lld ms\n",
                 static_cast<long long>(now_), static_cast<long long>(watchdogAt_));
    std::abort();
  }
}

ScriptedSocket::Event* ScriptedSocket::Next() {
  if (position_ >= script_.size() && endless_ && !script_.empty()) position_ = 0;
  return position_ < script_.size() ? &script_[position_] : nullptr;
}

int ScriptedSocket::Send(const char* data, int length) {
  ++sends_;
  if (failingSend_ > 0 && sends_ >= failingSend_) {
    lastError_ = kConnectionReset;
    return -1;
  }
  sent_.append(data, static_cast<std::size_t>(std::max(length, 0)));
  return length;
}

int ScriptedSocket::Recv(char* buffer, int length) {
  Tick(kCallCostMs);
  Event* event = Next();
  if (event == nullptr || length <= 0) return 0;  // the peer has gone
  switch (event->kind) {
    case Event::Kind::Close:
      return 0;
    case Event::Kind::Data: {
      const std::size_t left = event->data.size() - offset_;
      const std::size_t count = std::min(left, static_cast<std::size_t>(length));
      std::memcpy(buffer, event->data.data() + offset_, count);
      offset_ += count;
      if (offset_ == event->data.size()) {
        offset_ = 0;
        ++position_;
      }
      return static_cast<int>(count);
    }
    default:  // an error, or a read where select said nothing had come
      ++position_;
      lastError_ = kConnectionReset;
      return -1;
  }
}

int ScriptedSocket::SelectReadable(int timeoutMs, bool& readable) {
  Tick(kCallCostMs);
  readable = false;
  Event* event = Next();
  if (event != nullptr && event->kind == Event::Kind::SelectError) {
    ++position_;
    return -1;
  }
  if (event != nullptr && event->kind == Event::Kind::Silence) {
    const int waited = std::max(timeoutMs, 0);
    if (event->silenceMs > waited) {
      event->silenceMs -= waited;
      Tick(waited);
      return 0;
    }
    Tick(event->silenceMs);
    ++position_;
  }
  readable = true;  // data, an error or the end of the stream can be read
  return 1;
}

void ScriptedSocket::Pause(int milliseconds) { Tick(std::max(milliseconds, 0)); }

}  // namespace qardex::fuzzing
